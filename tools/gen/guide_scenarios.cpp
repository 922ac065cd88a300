#include "tools/gen/guide_scenarios.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace gen {

namespace {

// Times are minutes from 2026-12-01 00:00 JST; every scenario stays within
// December 2026.
const int64_t kDay = 24 * 60;
int64_t Minute(int day, int hour, int minute) { return (day - 1) * kDay + hour * 60 + minute; }

std::string When(int64_t minute) {
    char text[64];
    std::snprintf(text, sizeof text, "2026-12-%02d %02d:%02d:00", static_cast<int>(1 + minute / kDay),
                  static_cast<int>(minute / 60 % 24), static_cast<int>(minute % 60));
    return text;
}

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

// A programme of the catalogue: what a broadcaster's day is made of.
struct Show {
    const char* title;    // scenario text: \{字} for an additional symbol
    const char* text;
    const char* genre;    // content entries
    bool serial;          // numbered episodes, with a series descriptor
    const char* cast;     // the 出演者 item ("" for none)
    const char* content;  // the 番組内容 item
};

const Show kShows[] = {
    {"ニュース・気象情報\\{字}", "全国と各地のニュース、気象情報をお伝えします。", "0x00 0x01", false, "青木健太、森本由美",
     "きょうの主な動きを中継を交えて伝える。"},
    {"連続ドラマ「潮騒の町」\\{字}\\{再}", "港町に戻った美咲は古い灯台で一枚の写真を見つける。", "0x30", true,
     "山田花子、佐藤一郎、鈴木三郎", "三十年前の嵐の夜に何があったのか。灯台守の老人が語り始める。"},
    {"プロ野球ダイジェスト", "きょうの全試合の結果とハイライト。", "0x10 0x11", false, "高橋和子",
     "各球場の好プレーを一挙紹介。"},
    {"きょうの料理　冬の煮込み", "手軽にできる冬の煮込み料理を紹介します。", "0xA0", true, "料理研究家　中村春子",
     "大根と鶏肉のうま煮、白菜のスープ。"},
    {"映画「北の灯台守」\\{字}\\{二}", "名作映画をノーカットで。（１９６２年・日本）", "0x60 0x62", false,
     "岡田信夫、早川みどり", "北の岬の灯台を守る夫婦の二十五年。"},
    {"アニメ「星の旅人」\\{新}", "少年ソラと機械仕掛けの猫の宇宙の旅。", "0x70", true, "声　小川さくら", "ソラは砂の星で不思議な少女と出会う。"},
    {"ドキュメント　山里の冬", "雪深い山里で暮らす人々の冬支度を追った。", "0x80", false, "語り　石井誠",
     "炭焼き小屋の親子と、冬を越す知恵。"},
    {"音楽の広場\\{生}", "話題のアーティストがスタジオで生演奏。", "0x40", false, "司会　藤田アキ", "今夜は冬の名曲特集。"},
    {"お笑い演芸館", "人気芸人の漫才とコントをたっぷりと。", "0x50", true, "", "若手三組の新ネタ披露。"},
    {"天気予報・交通情報", "あすの天気と週間予報。道路と鉄道の情報も。", "0x01 0x00", false, "", "各地の天気と気温。"},
    {"囲碁・将棋の時間", "今週の対局から名場面を解説。", "0xA1", false, "解説　村上九段", "終盤のねばりに注目。"},
    {"子ども番組「ぴよぴよ広場」", "歌と体操で元気に遊ぼう。", "0x70 0x71", true, "うたのおねえさん", "きょうは雪だるまの歌。"},
};
const int kShowCount = static_cast<int>(sizeof kShows / sizeof kShows[0]);

struct Programme {
    uint16_t service = 0;
    uint16_t id = 0;
    int64_t start = 0;  // minutes from 2026-12-01
    int length = 0;     // minutes
    std::string title;
    std::string text;
    std::string genre;
    std::string video;
    std::string audio;
    std::vector<std::string> lines;  // further "key = value" lines
};

// How a service's grid is drawn.
struct GridStyle {
    std::vector<int> lengths;  // minutes, cycled
    int detailsEvery = 2;      // every n-th programme carries items (0: none)
    int fillerPhrases = 0;     // phrases added to 番組内容 (the full budget's dense texts)
    const char* video = "0xB3";
    const char* audio = "stereo jpn";
};

// The programmes of one service from `from` for `days` days, tiled without
// gaps; event ids from `firstId`. `shift` turns the catalogue so that the
// services of a multiplex show different programmes at the same hour.
std::vector<Programme> Grid(uint16_t service, uint16_t firstId, int64_t from, int days, int shift,
                            const GridStyle& style) {
    static const char kFiller[] = "季節の話題と地域の暮らしを、取材先の声とともに詳しく伝える。";
    std::vector<Programme> out;
    int episodes[kShowCount] = {};
    int n = 0;
    for (int64_t at = from; at < from + days * kDay; ++n) {
        const int show = (n * 5 + shift) % kShowCount;
        const Show& s = kShows[show];
        Programme p;
        p.service = service;
        p.id = static_cast<uint16_t>(firstId + n);
        p.start = at;
        p.length = style.lengths[static_cast<size_t>(n) % style.lengths.size()];
        p.title = s.title;
        p.text = s.text;
        p.genre = s.genre;
        p.video = style.video;
        p.audio = n % 7 == 3 ? "dual jpn eng" : style.audio;
        if (s.serial) {
            const int episode = ++episodes[show];
            p.title += "　第" + std::to_string(episode) + "回";
            p.lines.push_back("series = " + std::to_string(0x100 + show) + " 0 1 " + std::to_string(episode) + " 0 | " +
                              s.title);
        }
        if (style.detailsEvery > 0 && n % style.detailsEvery == 0) {
            if (s.cast[0] != '\0') p.lines.push_back(std::string("item = 出演者 | ") + s.cast);
            std::string content = s.content;
            for (int k = 0; k < style.fillerPhrases; ++k) content += kFiller;
            p.lines.push_back("item = 番組内容 | " + content);
        }
        out.push_back(p);
        at += p.length;
    }
    return out;
}

Programme* At(std::vector<Programme>& grid, int64_t minute) {
    for (Programme& p : grid) {
        if (p.start <= minute && minute < p.start + p.length) return &p;
    }
    return nullptr;
}

std::string Render(const Programme& p) {
    std::string t = "\n[event " + Hex(p.service) + "]\nid = " + Hex(p.id) + "\nstart = " + When(p.start) +
                    "\nduration = ";
    char clock[32];
    std::snprintf(clock, sizeof clock, "%02d:%02d:00", p.length / 60 % 100, p.length % 60);
    t += clock;
    t += "\ntitle = " + p.title + "\ntext = " + p.text + "\ngenre = " + p.genre + "\nvideo = " + p.video +
         "\naudio = " + p.audio + "\n";
    for (const std::string& line : p.lines) t += line + "\n";
    return t;
}

std::string RenderAll(const std::vector<Programme>& grid) {
    std::string t;
    for (const Programme& p : grid) t += Render(p);
    return t;
}

struct StreamStyle {
    const char* start = "2026-12-08 21:59:58";
    const char* duration = "8";
    uint64_t bitrate = 16000000;
    unsigned transportStreamId = 0x7FE0;
    unsigned originalNetworkId = 0x7FE0;
    std::string networkName;
    const char* scheduleInterval = "3";
    bool spread = false;
};

std::string StreamBlock(const std::string& comment, const StreamStyle& s) {
    return comment + "\n[stream]\nstart = " + s.start + "\nduration = " + s.duration +
           "\nbitrate = " + std::to_string(s.bitrate) + "\ntot-interval = 2\ntransport-stream-id = " +
           Hex(s.transportStreamId) + "\noriginal-network-id = " + Hex(s.originalNetworkId) +
           "\nnetwork-name = " + s.networkName + "\nschedule = on\nschedule-interval = " + s.scheduleInterval +
           (s.spread ? "\nschedule-spread = on\n" : "\n");
}

// A full-segment service with a small standard-definition picture, so that
// several fit a multiplex; PIDs from `pidBase`.
std::string FullSegmentService(uint16_t id, unsigned pidBase, const std::string& name, const std::string& provider) {
    return "\n[service " + Hex(id) + "]\ntype = 0x01\npmt = " + Hex(pidBase) + "\npcr = " + Hex(pidBase + 1) +
           "\nname = " + name + "\nprovider = " + provider + "\nvideo = " + Hex(pidBase + 1) +
           " mpeg2 2000 0x00 352x240\naudio = " + Hex(pidBase + 2) + " aac 128 0x10\n";
}

std::string OneSegmentService(uint16_t id, const std::string& name, const std::string& provider) {
    return "\n[service " + Hex(id) + "]\ntype = 0xC0\npmt = 0x1FC8\npcr = 0x01FF\nname = " + name +
           "\nprovider = " + provider + "\nvideo = 0x0181 h264 320 0x81\naudio = 0x0183 aac 64 0x83\n";
}

std::string OtherService(uint16_t id, unsigned transportStreamId, unsigned originalNetworkId, const std::string& name,
                         const std::string& provider) {
    return "\n[service " + Hex(id) + "]\ntype = 0x01\ntransport-stream-id = " + Hex(transportStreamId) +
           "\noriginal-network-id = " + Hex(originalNetworkId) + "\nname = " + name + "\nprovider = " + provider +
           "\n";
}

// The one-segment service's grid: the main service's programmes (same ids
// and times), shared with it by an event group descriptor, in one-segment
// video.
std::vector<Programme> OneSegmentGrid(const std::vector<Programme>& main, uint16_t service) {
    std::vector<Programme> out = main;
    for (Programme& p : out) {
        p.service = service;
        p.video = "0xD1 0x81";
        p.lines.push_back("group = 1 " + Hex(main.front().service) + ":" + Hex(p.id));
    }
    return out;
}

// --- three-services ---------------------------------------------------------------

std::string ThreeServices() {
    StreamStyle st;
    st.networkName = "ケストリン放送";
    std::string t = StreamBlock(
        "# kestrin-gen --scenario three-services: a terrestrial multiplex of three\n"
        "# full-segment services and the one-segment service at ten o'clock at\n"
        "# night on 8 December 2026, with four days of schedule (from 04:00 on the\n"
        "# 8th: the programmes of that day before 22:00 have ended when the first\n"
        "# TOT comes). At 22:00:03 a schedule section of 0x0400 comes in a new\n"
        "# version (a programme on the 9th cut short by a special); 0x0401 carries\n"
        "# a programme that overlaps two others; 0x0402's sections start in version 5.",
        st);
    t += FullSegmentService(0x0400, 0x0101, "ケストリン総合", "ケストリン放送");
    t += FullSegmentService(0x0401, 0x0111, "ケストリン教育", "ケストリン放送");
    t += FullSegmentService(0x0402, 0x0121, "ケストリン総合２", "ケストリン放送");
    t += OneSegmentService(0x0588, "ケストリンワンセグ", "ケストリン放送");

    const int64_t from = Minute(8, 4, 0);
    GridStyle style;
    style.lengths = {60, 30, 45, 15, 90, 60, 120, 30};
    std::vector<Programme> general = Grid(0x0400, 0x1000, from, 4, 0, style);
    std::vector<Programme> education = Grid(0x0401, 0x2000, from, 4, 3, style);
    std::vector<Programme> second = Grid(0x0402, 0x3000, from, 4, 7, style);

    // The update: the programme at 10:00 on the 9th gives way, from 22:00:03
    // on, to a special of half its length and the rest of it.
    Programme* cut = At(general, Minute(9, 10, 0));
    Programme special = *cut;
    special.id = 0x5001;
    special.length = cut->length / 2 > 0 ? cut->length / 2 : 15;
    special.title = "臨時ニュース\\{字}";
    special.text = "予定を変更してお伝えします。";
    special.genre = "0x00";
    special.lines = {"from = 2026-12-08 22:00:03"};
    cut->lines.push_back("until = 2026-12-08 22:00:03");
    // A relay: the baseball of 19:00 on the 9th goes on in 0x0401 at 21:00.
    Programme* game = At(general, Minute(9, 19, 0));
    Programme* relay = At(education, Minute(9, 21, 0));
    game->title = "プロ野球中継　港町×山手\\{生}";
    game->genre = "0x10 0x11";
    game->lines.push_back("group = 2 0x0401:" + Hex(relay->id));
    relay->title = "プロ野球中継　港町×山手（リレー）\\{生}";
    relay->genre = "0x10 0x11";
    // An overlap: a special on the 10th from 20:15 for 90 minutes, over the
    // programmes of its hours, in a section of version 2.
    Programme overlap;
    overlap.service = 0x0401;
    overlap.id = 0x5101;
    overlap.start = Minute(10, 20, 15);
    overlap.length = 90;
    overlap.title = "特別番組　冬の星空中継\\{生}";
    overlap.text = "各地の天文台を結んで星空を生中継。";
    overlap.genre = "0x80";
    overlap.video = "0xB3";
    overlap.audio = "stereo jpn";
    overlap.lines = {"version = 2"};
    // Version 5 for every section of the second service.
    for (Programme& p : second) p.lines.push_back("version = 5");

    // The one-segment service simulcasts the main one, the special too.
    general.push_back(special);
    std::vector<Programme> oneSeg = OneSegmentGrid(general, 0x0588);
    general.pop_back();
    t += RenderAll(general) + Render(special) + RenderAll(education) + Render(overlap) + RenderAll(second) +
         RenderAll(oneSeg);
    return t;
}

// --- bs-like -----------------------------------------------------------------------

// Fictional channel names of the other transport streams.
const char* const kBsNames[] = {"白鷺", "青空", "若葉", "流星", "白樺", "紅葉", "潮風", "山彦", "虹色", "夕凪",
                                "春雷", "朧月", "初霜", "雪原", "木漏れ日"};

// Transport stream ids of a BS-like network, two per transponder: 0x4010,
// 0x4011, 0x4030, 0x4031, ... (m = 0 is the transponder's own).
unsigned BsTransportStreamId(int m) {
    return 0x4010u + static_cast<unsigned>(m / 2) * 0x20u + static_cast<unsigned>(m % 2);
}

std::string FullWidthNumber(int n) {
    static const char* const kDigits[] = {"０", "１", "２", "３", "４", "５", "６", "７", "８", "９"};
    const std::string rest = n >= 10 ? FullWidthNumber(n / 10) : std::string();
    return rest + kDigits[n % 10];
}

// A transponder of `ownServices` services of its own (transport stream
// 0x4010) and `otherStreams` other transport streams of `perStream`
// services each, all with `days` days of schedule from midnight of the 8th.
std::string BsTransponder(const std::string& comment, const StreamStyle& st, int ownServices, int otherStreams,
                          int perStream, int days, const GridStyle& style) {
    std::string t = StreamBlock(comment, st);
    std::string events;
    const int64_t from = Minute(8, 0, 0);
    int shift = 0;
    for (int i = 0; i < ownServices; ++i) {
        const uint16_t id = static_cast<uint16_t>(151 + i);
        t += FullSegmentService(id, 0x0100 + 0x10u * static_cast<unsigned>(i), "ケストリンＢＳ" + FullWidthNumber(i + 1),
                                "ケストリン衛星");
        events += RenderAll(Grid(id, 0x1000, from, days, shift++, style));
    }
    for (int k = 0; k < otherStreams; ++k) {
        const unsigned tsid = BsTransportStreamId(k + 1);  // 0x4011 onwards
        for (int j = 0; j < perStream; ++j) {
            const uint16_t id = static_cast<uint16_t>(200 + 10 * k + j);
            const std::string name = std::string("ＢＳ") + kBsNames[k % 15] + FullWidthNumber(k / 15 * perStream + j + 1);
            t += OtherService(id, tsid, 0x0004, name, std::string("ＢＳ") + kBsNames[k % 15]);
            events += RenderAll(Grid(id, 0x1000, from, days, shift++, style));
        }
    }
    return t + events;
}

std::string BsLike() {
    StreamStyle st;
    st.duration = "11";
    st.transportStreamId = 0x4010;
    st.originalNetworkId = 0x0004;
    st.networkName = "ケストリン衛星";
    st.scheduleInterval = "10";
    st.spread = true;
    GridStyle style;
    style.lengths = {60, 30, 90, 60, 120, 45, 15};
    return BsTransponder(
        "# kestrin-gen --scenario bs-like: a BS-like transponder (original_network_id\n"
        "# 4, transport stream 0x4010) carrying the schedules of 30 services: its\n"
        "# own three (0x50-0x5F) and 27 of nine other transport streams (0x60-0x6F,\n"
        "# named in the SDT other), four days from midnight of 8 December 2026.\n"
        "# The carousel: every service's sections once every 10 seconds, the\n"
        "# services spread evenly over those 10 seconds.",
        st, 3, 9, 3, 4, style);
}

// --- full-budget -------------------------------------------------------------------

std::string FullBudget() {
    StreamStyle st;
    st.duration = "5.5";
    st.bitrate = 100000000;
    st.transportStreamId = 0x4010;
    st.originalNetworkId = 0x0004;
    st.networkName = "ケストリン衛星";
    st.scheduleInterval = "5";
    st.spread = true;
    GridStyle style;
    style.lengths = {30, 30, 60, 30, 45, 15};
    style.detailsEvery = 1;
    style.fillerPhrases = 17;
    return BsTransponder(
        "# kestrin-gen --scenario full-budget: 120 services (three of the\n"
        "# transponder's own, 117 of 39 other transport streams), eight dense days\n"
        "# each (programmes of 15 to 60 minutes, every one with long items): more\n"
        "# schedule section bytes than a guide of 32 MB holds. Every schedule\n"
        "# once in five seconds at 100 Mbit/s.",
        st, 3, 39, 3, 8, style);
}

// --- zap ---------------------------------------------------------------------------

// Multiplex k (0-2) of the zap: its own network and transport stream ids
// 0x7FE1 + k, two full-segment services and the one-segment service, two
// days of schedule; six seconds each, one after another from 21:59:58.
std::string ZapPart(int k) {
    static const char* const kStarts[] = {"2026-12-08 21:59:58", "2026-12-08 22:00:04", "2026-12-08 22:00:10"};
    static const char* const kNames[] = {"みなと", "やまて", "かわべ"};
    StreamStyle st;
    st.start = kStarts[k];
    st.duration = "6";
    st.transportStreamId = 0x7FE1u + static_cast<unsigned>(k);
    st.originalNetworkId = 0x7FE1u + static_cast<unsigned>(k);
    st.networkName = std::string(kNames[k]) + "放送";
    st.scheduleInterval = "2";
    const std::string provider = st.networkName;
    std::string t = StreamBlock("# kestrin-gen --scenario zap-" + std::to_string(k + 1) + ": multiplex " +
                                    std::to_string(k + 1) + " of three of the zap (see zap).",
                                st);
    const uint16_t main = static_cast<uint16_t>(0x0408 + 0x10 * k);
    const uint16_t second = static_cast<uint16_t>(main + 1);
    const uint16_t oneSeg = static_cast<uint16_t>(0x0598 + 0x10 * k);
    t += FullSegmentService(main, 0x0101, std::string(kNames[k]) + "テレビ", provider);
    t += FullSegmentService(second, 0x0111, std::string(kNames[k]) + "テレビ２", provider);
    t += OneSegmentService(oneSeg, std::string(kNames[k]) + "ワンセグ", provider);
    GridStyle style;
    style.lengths = {60, 30, 45, 60, 90};
    const std::vector<Programme> grid = Grid(main, static_cast<uint16_t>(0x1000 + 0x1000 * k), Minute(8, 0, 0), 2, k, style);
    t += RenderAll(grid);
    t += RenderAll(Grid(second, static_cast<uint16_t>(0x1800 + 0x1000 * k), Minute(8, 0, 0), 2, k + 5, style));
    t += RenderAll(OneSegmentGrid(grid, oneSeg));
    return t;
}

}  // namespace

const std::vector<NamedScenario>& NamedScenarios() {
    static const std::vector<NamedScenario> names = {
        {"three-services", "terrestrial: three full-segment services and the one-segment service, four days"},
        {"bs-like", "BS-like transponder: 3 own services (0x50-0x5F) and 27 of other TS (0x60-0x6F), four days"},
        {"zap", "three terrestrial multiplexes one after another (zap-1, zap-2, zap-3)"},
        {"zap-1", "the zap's first multiplex alone"},
        {"zap-2", "the zap's second multiplex alone"},
        {"zap-3", "the zap's third multiplex alone"},
        {"full-budget", "120 services of eight dense days: more than a 32 MB guide holds"},
    };
    return names;
}

bool NamedScenarioParts(const std::string& name, std::vector<std::string>& parts) {
    parts.clear();
    if (name == "three-services") {
        parts.push_back(ThreeServices());
    } else if (name == "bs-like") {
        parts.push_back(BsLike());
    } else if (name == "full-budget") {
        parts.push_back(FullBudget());
    } else if (name == "zap") {
        for (int k = 0; k < 3; ++k) parts.push_back(ZapPart(k));
    } else if (name == "zap-1" || name == "zap-2" || name == "zap-3") {
        parts.push_back(ZapPart(name[4] - '1'));
    } else {
        return false;
    }
    return true;
}

}  // namespace gen
