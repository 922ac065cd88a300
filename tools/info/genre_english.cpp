#include "tools/info/genre_english.h"

namespace {

struct GenreWord {
    uint8_t nibbles;
    uint8_t mask;  // 0xF0: every sub-genre of the level; 0xFF: this pair only
    const char* word;
};

// The first row that matches wins: a level's pairs stand before its row.
const GenreWord kGenreWords[] = {
    {0x00, 0xF0, "news"},             // ニュース／報道
    {0x10, 0xF0, "sports"},           // スポーツ
    {0x23, 0xFF, "health"},           // 情報／ワイドショー - 健康・医療
    {0x24, 0xFF, "shopping"},         // 情報／ワイドショー - ショッピング・通販
    {0x25, 0xFF, "cooking"},          // 情報／ワイドショー - グルメ・料理
    {0x20, 0xF0, "talk"},             // 情報／ワイドショー
    {0x30, 0xF0, "drama"},            // ドラマ
    {0x40, 0xF0, "music"},            // 音楽
    {0x50, 0xF0, "variety"},          // バラエティ
    {0x60, 0xF0, "movie"},            // 映画
    {0x72, 0xFF, "kids"},             // アニメ／特撮 - 特撮 (the children's hero series)
    {0x70, 0xF0, "anime"},            // アニメ／特撮
    {0x80, 0xF0, "documentary"},      // ドキュメンタリー／教養
    {0x90, 0xF0, "performing arts"},  // 劇場／公演
    {0xA0, 0xFF, "travel"},           // 趣味／教育 - 旅・釣り・アウトドア
    {0xA1, 0xFF, "hobbies"},          // 趣味／教育 - 園芸・ペット・手芸
    {0xA2, 0xFF, "hobbies"},          // 趣味／教育 - 音楽・美術・工芸
    {0xA3, 0xFF, "hobbies"},          // 趣味／教育 - 囲碁・将棋
    {0xA4, 0xFF, "hobbies"},          // 趣味／教育 - 麻雀・パチンコ
    {0xA5, 0xFF, "hobbies"},          // 趣味／教育 - 車・オートバイ
    {0xA6, 0xFF, "hobbies"},          // 趣味／教育 - コンピュータ・ＴＶゲーム
    {0xA8, 0xFF, "kids"},             // 趣味／教育 - 幼児・小学生
    {0xA0, 0xF0, "educational"},      // 趣味／教育
    {0xB0, 0xF0, "welfare"},          // 福祉
    {0xF0, 0xF0, "other"},            // その他
};

}  // namespace

const char* GenreEnglish(uint8_t nibbles) {
    for (const GenreWord& row : kGenreWords) {
        if ((nibbles & row.mask) == row.nibbles) return row.word;
    }
    return nullptr;
}
