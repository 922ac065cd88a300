// Programme details: extended event items joined across descriptors, genre
// lines of the content descriptor, and the tooltip text made of them.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/streamkit/arib_encoder.h"
#include "tests/unit/text_test_helpers.h"
#include "text/event_details.h"

namespace {

typedef std::vector<uint8_t> Bytes;

const uint8_t kExtendedEventTag = 0x4E;
const uint8_t kContentTag = 0x54;
const uint8_t kShortEventTag = 0x4D;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// ARIB bytes of a UTF-8 text in the broadcasters' plain style: kanji through
// GL, hiragana through GR.
Bytes A(const char* utf8) {
    bool complete = true;
    Bytes b = EncodeAribFromUtf8(utf8, &complete);
    EXPECT_TRUE(complete) << utf8;
    return b;
}

Bytes Descriptor(uint8_t tag, const Bytes& body) {
    Bytes d = {tag, static_cast<uint8_t>(body.size())};
    d.insert(d.end(), body.begin(), body.end());
    return d;
}

struct RawItem {
    Bytes description;
    Bytes text;
};

// The body of an extended event descriptor with honest lengths.
Bytes ExtendedBody(uint8_t number, uint8_t last, const std::vector<RawItem>& items, const Bytes& text = {}) {
    Bytes itemBytes;
    for (const RawItem& item : items) {
        itemBytes.push_back(static_cast<uint8_t>(item.description.size()));
        itemBytes.insert(itemBytes.end(), item.description.begin(), item.description.end());
        itemBytes.push_back(static_cast<uint8_t>(item.text.size()));
        itemBytes.insert(itemBytes.end(), item.text.begin(), item.text.end());
    }
    Bytes body = {static_cast<uint8_t>(number << 4 | last), 'j', 'p', 'n', static_cast<uint8_t>(itemBytes.size())};
    body.insert(body.end(), itemBytes.begin(), itemBytes.end());
    body.push_back(static_cast<uint8_t>(text.size()));
    body.insert(body.end(), text.begin(), text.end());
    return body;
}

Bytes Extended(uint8_t number, uint8_t last, const std::vector<RawItem>& items, const Bytes& text = {}) {
    return Descriptor(kExtendedEventTag, ExtendedBody(number, last, items, text));
}

// A content descriptor: each level-1/level-2 byte with user nibbles 0xFF.
Bytes Content(const Bytes& nibbles) {
    Bytes body;
    for (uint8_t n : nibbles) {
        body.push_back(n);
        body.push_back(0xFF);
    }
    return Descriptor(kContentTag, body);
}

// Reads the loop from a heap copy of exactly its length, so that
// AddressSanitizer sees any read past it.
std::unique_ptr<EventDetails> Read(const Bytes& loop, SymbolStyle style = SymbolStyle::kUserDefined) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[loop.empty() ? 1 : loop.size()]);
    if (!loop.empty()) std::memcpy(exact.get(), loop.data(), loop.size());
    std::unique_ptr<EventDetails> details(new EventDetails);
    std::memset(details.get(), 0x5A, sizeof(EventDetails));  // no stale terminators
    ReadEventDetails(exact.get(), static_cast<int32_t>(loop.size()), style, *details);
    return details;
}

struct ItemText {
    std::string description;  // Shift_JIS
    std::string text;
};

void ExpectItems(const EventDetails& d, const std::vector<ItemText>& expected) {
    ASSERT_EQ(static_cast<int32_t>(expected.size()), d.itemCount);
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(expected[i].description, d.items[i].description) << "item " << i;
        EXPECT_EQ(expected[i].text, d.items[i].text) << "item " << i;
    }
}

struct ItemsCase {
    std::string name;
    Bytes loop;
    std::vector<ItemText> items;
    std::string extendedText;
};

// Kanji 亜 is JIS 0x3021 through GL (kanji in G0, the broadcast default).
// Katakana ア and カ are 0x22 and 0x2B, hiragana あ and い 0x22 and 0x24.
std::vector<ItemsCase> JoinCases() {
    const Bytes content = A("番組内容");
    return {
        {"one descriptor, two items", Extended(0, 0, {{A("出演"), A("山田")}, {A("原作"), A("川上")}}),
         {{Sjis("出演"), Sjis("山田")}, {Sjis("原作"), Sjis("川上")}}, ""},
        {"continuation inside one descriptor",
         Extended(0, 0, {{A("出演"), A("山田")}, {{}, A("川上")}}),
         {{Sjis("出演"), Sjis("山田川上")}}, ""},
        {"kanji pair straddles two descriptors",
         Cat({Extended(0, 1, {{content, Cat({A("番組"), {0x30}})}}), Extended(1, 1, {{{}, {0x21}}})}),
         {{Sjis("番組内容"), Sjis("番組亜")}}, ""},
        {"ESC LS3 (katakana into GL) before the join",
         Cat({Extended(0, 1, {{content, Cat({A("説明"), {0x1B, 0x6F}})}}), Extended(1, 1, {{{}, {0x2B, 0x22}}})}),
         {{Sjis("番組内容"), Sjis("説明カア")}}, ""},
        {"ESC of LS3 on one side, its final byte on the other",
         Cat({Extended(0, 1, {{content, Cat({A("説明"), {0x1B}})}}), Extended(1, 1, {{{}, {0x6F, 0x2B, 0x22}}})}),
         {{Sjis("番組内容"), Sjis("説明カア")}}, ""},
        {"designation of katakana to G0 cut by the join",
         Cat({Extended(0, 1, {{content, Cat({A("説明"), {0x1B, 0x28}})}}), Extended(1, 1, {{{}, {0x31, 0x2B, 0x22}}})}),
         {{Sjis("番組内容"), Sjis("説明カア")}}, ""},
        {"hiragana into G1 and LS1 before the join",
         Cat({Extended(0, 1, {{content, Cat({A("説明"), {0x1B, 0x29, 0x30, 0x0E}})}}),
              Extended(1, 1, {{{}, {0x22, 0x24}}})}),
         {{Sjis("番組内容"), Sjis("説明あい")}}, ""},
        {"items continue over three descriptors, then a new item",
         Cat({Extended(0, 2, {{A("出演"), A("山田")}, {{}, A("川上")}}), Extended(1, 2, {{{}, A("森")}}),
              Extended(2, 2, {{{}, A("林")}, {A("原作"), A("海野")}})}),
         {{Sjis("出演"), Sjis("山田川上森林")}, {Sjis("原作"), Sjis("海野")}}, ""},
        {"text_char joined across descriptors, a kanji pair straddling",
         Cat({Extended(0, 1, {}, Cat({A("番組"), {0x30}})), Extended(1, 1, {}, {0x21})}), {}, Sjis("番組亜")},
        {"items and text_char in the same descriptors",
         Cat({Extended(0, 1, {{A("出演"), A("山田")}}, A("第一")), Extended(1, 1, {}, A("回"))}),
         {{Sjis("出演"), Sjis("山田")}}, Sjis("第一回")},
        {"other descriptors around are passed over",
         Cat({Descriptor(kShortEventTag, {'j', 'p', 'n', 1, 0x30, 1, 0x21}), Extended(0, 0, {{A("出演"), A("山田")}}),
              Descriptor(0xC4, {1, 2, 3})}),
         {{Sjis("出演"), Sjis("山田")}}, ""},
        // Empty texts.
        {"empty loop", {}, {}, ""},
        {"item with a description and no text", Extended(0, 0, {{A("出演"), {}}}), {{Sjis("出演"), ""}}, ""},
        {"item with neither description nor text is no item", Extended(0, 0, {{{}, {}}, {A("出演"), A("山田")}}),
         {{Sjis("出演"), Sjis("山田")}}, ""},
        {"empty item between two does not end the first",
         Extended(0, 0, {{A("出演"), A("山田")}, {{}, {}}, {{}, A("森")}}), {{Sjis("出演"), Sjis("山田森")}}, ""},
        {"descriptor with no items and no text", Extended(0, 0, {}), {}, ""},
        {"descriptor of length zero", Descriptor(kExtendedEventTag, {}), {}, ""},
        {"descriptor holding only its numbers", Descriptor(kExtendedEventTag, {0x00}), {}, ""},
        {"continuation with no item before it stands alone", Extended(0, 0, {{{}, A("山田")}, {A("原作"), A("森")}}),
         {{"", Sjis("山田")}, {Sjis("原作"), Sjis("森")}}, ""},
        // Descriptor numbers.
        {"out of order: taken by number",
         Cat({Extended(1, 1, {{{}, A("川上")}, {A("原作"), A("森")}}), Extended(0, 1, {{A("出演"), A("山田")}})}),
         {{Sjis("出演"), Sjis("山田川上")}, {Sjis("原作"), Sjis("森")}}, ""},
        {"out of order with a straddling kanji pair",
         Cat({Extended(1, 1, {{{}, {0x21}}}), Extended(0, 1, {{content, Cat({A("番組"), {0x30}})}})}),
         {{Sjis("番組内容"), Sjis("番組亜")}}, ""},
        {"repeated number: the first one wins",
         Cat({Extended(0, 1, {{A("出演"), A("山田")}}), Extended(0, 1, {{A("原作"), A("森")}}),
              Extended(1, 1, {{{}, A("川上")}})}),
         {{Sjis("出演"), Sjis("山田川上")}}, ""},
        {"missing number: the rest still join across the gap",
         Cat({Extended(0, 2, {{A("出演"), A("山田")}}), Extended(2, 2, {{{}, A("川上")}, {A("原作"), A("森")}})}),
         {{Sjis("出演"), Sjis("山田川上")}, {Sjis("原作"), Sjis("森")}}, ""},
        {"number 0 missing", Extended(3, 3, {{A("出演"), A("山田")}}), {{Sjis("出演"), Sjis("山田")}}, ""},
        {"numbers above last_descriptor_number are kept",
         Cat({Extended(0, 0, {{A("出演"), A("山田")}}), Extended(1, 0, {{A("原作"), A("森")}})}),
         {{Sjis("出演"), Sjis("山田")}, {Sjis("原作"), Sjis("森")}}, ""},
        {"number 15, the last there is",
         Cat({Extended(15, 15, {{A("原作"), A("森")}}), Extended(0, 15, {{A("出演"), A("山田")}})}),
         {{Sjis("出演"), Sjis("山田")}, {Sjis("原作"), Sjis("森")}}, ""},
    };
}

TEST(EventDetailsItems, JoinsItemsInDescriptorNumberOrder) {
    for (const ItemsCase& c : JoinCases()) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<EventDetails> d = Read(c.loop);
        ExpectItems(*d, c.items);
        EXPECT_EQ(c.extendedText, d->extendedText);
        EXPECT_EQ(0, d->genreCount);
    }
}

// Lengths that claim more than their container holds: each is cut where its
// container ends, and the walk resumes at the declared end of the container.
std::vector<ItemsCase> OverrunCases() {
    const Bytes yamada = A("山田");  // two kanji: four bytes
    std::vector<ItemsCase> cases;
    {
        // descriptor_length 0x80 overruns the loop; the item text inside is
        // declared with 10 bytes but only the first kanji arrived.
        Bytes body = ExtendedBody(0, 0, {{A("出演"), yamada}});
        Bytes loop = {kExtendedEventTag, 0x80};
        loop.insert(loop.end(), body.begin(), body.end() - 3);  // cut inside the text's 2nd kanji
        cases.push_back({"descriptor_length overruns the loop", loop, {{Sjis("出演"), Sjis("山")}}, ""});
    }
    {
        // length_of_items 0xF0 overruns its own descriptor: the items stop
        // at the descriptor's end and the next descriptor is read as one.
        Bytes body = ExtendedBody(0, 1, {{A("出演"), yamada}});
        body[4] = 0xF0;
        cases.push_back({"length_of_items overruns the descriptor into its neighbour",
                         Cat({Descriptor(kExtendedEventTag, body), Extended(1, 1, {{A("原作"), A("森")}})}),
                         {{Sjis("出演"), Sjis("山田")}, {Sjis("原作"), Sjis("森")}}, ""});
    }
    {
        // item_length 0x40 overruns length_of_items: the text is cut at the
        // end of the items, and text_length after them is still found.
        Bytes body = ExtendedBody(0, 0, {{A("出演"), yamada}}, A("森"));
        const size_t itemLengthAt = 5 + 1 + A("出演").size();
        body[itemLengthAt] = 0x40;
        cases.push_back({"item_length overruns length_of_items", Descriptor(kExtendedEventTag, body),
                         {{Sjis("出演"), Sjis("山田")}}, Sjis("森")});
    }
    {
        // item_description_length 0x40 overruns length_of_items: the
        // description takes the rest of the items, there is no text.
        // The item_length byte (0x04) it swallows is a control code that the
        // decoder skips.
        Bytes body = ExtendedBody(0, 0, {{A("出演"), yamada}}, A("森"));
        body[5] = 0x40;
        cases.push_back({"item_description_length overruns length_of_items", Descriptor(kExtendedEventTag, body),
                         {{Sjis("出演山田"), ""}}, Sjis("森")});
    }
    {
        // text_length 0xFF overruns the descriptor: cut at its end, the
        // neighbour's bytes are not taken as text.
        Bytes body = ExtendedBody(0, 1, {}, A("第一"));
        body[5] = 0xFF;
        cases.push_back({"text_length overruns the descriptor into its neighbour",
                         Cat({Descriptor(kExtendedEventTag, body), Extended(1, 1, {}, A("回"))}), {}, Sjis("第一回")});
    }
    {
        Bytes body = ExtendedBody(0, 0, {}, A("第一"));
        body[5] = 0xFF;
        Bytes loop = {kExtendedEventTag, 0xFF};
        loop.insert(loop.end(), body.begin(), body.end());
        cases.push_back({"text_length and descriptor_length overrun the loop", loop, {}, Sjis("第一")});
    }
    {
        // An item loop that ends after a description length byte.
        Bytes body = {0x00, 'j', 'p', 'n', 0x01, 0x10, 0x00};
        cases.push_back({"item loop ends inside an item", Descriptor(kExtendedEventTag, body), {}, ""});
    }
    {
        Bytes body = {0x00, 'j', 'p'};
        cases.push_back({"descriptor ends inside the language code", Descriptor(kExtendedEventTag, body), {}, ""});
    }
    cases.push_back({"loop ends after a tag", {kExtendedEventTag}, {}, ""});
    cases.push_back({"loop ends after tag and length", {kExtendedEventTag, 0x20}, {}, ""});
    cases.push_back({"loop ends after the numbers", {kExtendedEventTag, 0x20, 0x00}, {}, ""});
    return cases;
}

TEST(EventDetailsItems, LengthsThatOverrunAreCutAtTheirContainer) {
    for (const ItemsCase& c : OverrunCases()) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<EventDetails> d = Read(c.loop);
        ExpectItems(*d, c.items);
        EXPECT_EQ(c.extendedText, d->extendedText);
    }
}

TEST(EventDetailsItems, ItemsBeyondTheLimitAreLeftOutWithTheirContinuations) {
    // Two descriptors of 8 items each fill the limit; the third starts item
    // 17 and continues it, and a continuation must not reach item 16.
    std::vector<RawItem> first, second;
    for (int i = 0; i < 8; ++i) first.push_back({A("出演"), A("山")});
    for (int i = 0; i < 8; ++i) second.push_back({A("原作"), A("森")});
    const Bytes loop = Cat({Extended(0, 3, first), Extended(1, 3, second), Extended(2, 3, {{A("音楽"), A("林")}}),
                            Extended(3, 3, {{{}, A("川")}})});
    std::unique_ptr<EventDetails> d = Read(loop);
    ASSERT_EQ(kMaxDetailItems, d->itemCount);
    EXPECT_EQ(Sjis("出演"), d->items[0].description);
    EXPECT_EQ(Sjis("原作"), d->items[kMaxDetailItems - 1].description);
    EXPECT_EQ(Sjis("森"), d->items[kMaxDetailItems - 1].text);
}

// Middle-size ASCII letters A..Z repeated, `count` bytes after MSZ LS1.
Bytes Letters(size_t count, size_t from) {
    Bytes b;
    for (size_t i = 0; i < count; ++i) b.push_back(static_cast<uint8_t>('A' + (from + i) % 26));
    return b;
}

TEST(EventDetailsItems, CapacitiesCutOnWholeCharacters) {
    struct Case {
        const char* name;
        Bytes loop;
        std::string description;  // expected, Shift_JIS
        std::string text;
    };
    // Raw capacity: 5 descriptors of 240 raw bytes make 1200; only the first
    // kDetailRawCapacity are decoded (MSZ LS1 and 1022 letters).
    Bytes rawLoop;
    size_t letters = 0;
    for (uint8_t n = 0; n < 5; ++n) {
        Bytes part = n == 0 ? Cat({{0x89, 0x0E}, Letters(238, 0)}) : Letters(240, letters);
        letters += n == 0 ? 238 : 240;
        rawLoop = Cat({rawLoop, Extended(n, 4, {{n == 0 ? A("出演") : Bytes(), part}})});
    }
    std::string rawExpected;
    for (size_t i = 0; i < static_cast<size_t>(kDetailRawCapacity) - 2; ++i) {
        rawExpected.push_back(static_cast<char>('A' + i % 26));
    }
    // Decoded capacity: 600 raw hiragana bytes through GR decode to 1200
    // bytes; 511 characters (1022 bytes) fit before the terminator.
    Bytes hiraganaLoop;
    std::string hiragana;
    for (uint8_t n = 0; n < 3; ++n) {
        Bytes part(200, 0xA2);  // あ
        hiraganaLoop = Cat({hiraganaLoop, Extended(n, 2, {{n == 0 ? A("出演") : Bytes(), part}})});
    }
    for (int i = 0; i < (kDetailTextSize - 1) / 2; ++i) hiragana += Sjis("あ");
    // A description of 100 hiragana: 63 characters fit in 127 bytes.
    std::string shortHiragana;
    for (int i = 0; i < (kDetailDescriptionSize - 1) / 2; ++i) shortHiragana += Sjis("あ");
    const Case cases[] = {
        {"raw bytes beyond the raw capacity", rawLoop, Sjis("出演"), rawExpected},
        {"decoded text beyond its capacity", hiraganaLoop, Sjis("出演"), hiragana},
        {"decoded description beyond its capacity", Extended(0, 0, {{Bytes(100, 0xA2), A("森")}}), shortHiragana,
         Sjis("森")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<EventDetails> d = Read(c.loop);
        ASSERT_EQ(1, d->itemCount);
        EXPECT_EQ(c.description, d->items[0].description);
        EXPECT_EQ(c.text, d->items[0].text);
    }
}

TEST(EventDetailsItems, SymbolStyleReachesItemsAndText) {
    // The additional symbol 字 (0x7A56) through GR once G2 holds the set.
    const Bytes symbol = {0x1B, 0x24, 0x2A, 0x3B, 0xFA, 0xD6};
    const Bytes loop = Extended(0, 0, {{Cat({A("出演"), symbol}), Cat({A("山田"), symbol})}}, symbol);
    std::unique_ptr<EventDetails> bracketed = Read(loop, SymbolStyle::kBracketed);
    ExpectItems(*bracketed, {{Sjis("出演[字]"), Sjis("山田[字]")}});
    EXPECT_EQ(Sjis("[字]"), bracketed->extendedText);
    std::unique_ptr<EventDetails> userDefined = Read(loop, SymbolStyle::kUserDefined);
    ExpectItems(*userDefined, {{Sjis("出演") + "\xF1\x83", Sjis("山田") + "\xF1\x83"}});
}

// --- Genres from the content descriptor --------------------------------------

TEST(EventDetailsGenres, ContentEntriesBecomeGenreLines) {
    const std::string news = Sjis("ジャンル：ニュース／報道 - 定時・総合");
    const std::string weather = Sjis("ジャンル：ニュース／報道 - 天気");
    const std::string sportsNews = Sjis("ジャンル：スポーツ - スポーツニュース");
    const std::string extension = Sjis("ジャンル：拡張");
    struct Case {
        const char* name;
        Bytes loop;
        std::vector<std::string> lines;
    };
    Bytes many;
    for (uint8_t n = 0; n < 10; ++n) many.push_back(n);
    std::vector<std::string> firstEight;
    for (const char* sub : {"定時・総合", "天気", "特集・ドキュメント", "政治・国会", "経済・市況", "海外・国際",
                            "解説", "討論・会談"}) {
        firstEight.push_back(Sjis((std::string("ジャンル：ニュース／報道 - ") + sub).c_str()));
    }
    const Case cases[] = {
        {"evening news: three genres", Content({0x00, 0x01, 0x10}), {news, weather, sportsNews}},
        {"reserved level 1 (0xC, 0xD) is skipped", Content({0xC0, 0x00, 0xD5}), {news}},
        {"unassigned pairs are skipped", Content({0x0B, 0x3A, 0xF0, 0xE5, 0x01}), {weather}},
        {"extension shows alone", Content({0xE0}), {extension}},
        {"a repeated line is kept once", Content({0x00, 0xE0, 0x00, 0xE1}), {news, extension}},
        {"other / other", Content({0xFF}), {Sjis("ジャンル：その他 - その他")}},
        {"two content descriptors, in loop order", Cat({Content({0x10}), Extended(0, 0, {}), Content({0x00})}),
         {sportsNews, news}},
        {"a last odd byte is no entry", Descriptor(kContentTag, {0x00, 0xFF, 0x01}), {news}},
        {"content descriptor overrunning the loop", {kContentTag, 0x10, 0x01, 0xFF, 0x00}, {weather}},
        {"at most kMaxGenreLines lines", Content(many), firstEight},
        {"empty content descriptor", Content({}), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<EventDetails> d = Read(c.loop);
        ASSERT_EQ(static_cast<int32_t>(c.lines.size()), d->genreCount);
        for (size_t i = 0; i < c.lines.size(); ++i) EXPECT_EQ(c.lines[i], d->genres[i]) << "line " << i;
    }
}

// --- Tooltip -------------------------------------------------------------------

std::unique_ptr<EventDetails> EmptyDetails() {
    std::unique_ptr<EventDetails> d(new EventDetails);
    std::memset(d.get(), 0, sizeof(EventDetails));
    return d;
}

void SetText(char* field, size_t size, const std::string& text) {
    ASSERT_LT(text.size(), size);
    std::memcpy(field, text.c_str(), text.size() + 1);
}

struct Fields {
    std::vector<std::string> genres;
    std::vector<ItemText> items;
    std::string extendedText;
};

std::unique_ptr<EventDetails> Make(const Fields& f) {
    std::unique_ptr<EventDetails> d = EmptyDetails();
    for (const std::string& g : f.genres) SetText(d->genres[d->genreCount++], kGenreLineSize, g);
    for (const ItemText& item : f.items) {
        DetailItem& out = d->items[d->itemCount++];
        SetText(out.description, sizeof out.description, item.description);
        SetText(out.text, sizeof out.text, item.text);
    }
    SetText(d->extendedText, sizeof d->extendedText, f.extendedText);
    return d;
}

// Formats into exactly `capacity` bytes followed by a guard.
std::string Tooltip(const EventDetails& d, const char* shortDescription, bool cut, int32_t capacity) {
    const size_t kGuard = 16;
    std::vector<char> buffer(static_cast<size_t>(capacity > 0 ? capacity : 0) + kGuard, '\x5A');
    const int32_t n = FormatEventDetailsTooltip(buffer.data(), capacity, d, shortDescription, cut);
    for (size_t i = static_cast<size_t>(capacity > 0 ? capacity : 0); i < buffer.size(); ++i) {
        EXPECT_EQ('\x5A', buffer[i]) << "write past capacity at " << i;
    }
    if (capacity < 1) {
        EXPECT_EQ(0, n);
        return std::string();
    }
    EXPECT_GE(n, 0);
    EXPECT_LT(n, capacity);
    EXPECT_EQ('\0', buffer[static_cast<size_t>(n)]) << "no terminator";
    return std::string(buffer.data(), static_cast<size_t>(n));
}

std::string Repeat(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

TEST(EventDetailsTooltip, LayoutAndWrapping) {
    const std::string a = Sjis("あ");
    const std::string x79 = std::string(79, 'x');
    const std::string x80 = std::string(80, 'x');
    struct Case {
        const char* name;
        Fields fields;
        const char* shortDescription;
        bool cut;
        std::string expected;
    };
    const std::string description = Sjis("夜のニュース");
    const std::string longDescription(81, 'd');
    const Case cases[] = {
        {"no details", {}, nullptr, false, ""},
        {"no details, event text not cut", {}, description.c_str(), false, ""},
        {"no details, event text cut: the description alone", {}, description.c_str(), true, description},
        {"cut flag without a description", {}, nullptr, true, ""},
        {"order: genres, items, text_char, description",
         {{"G1", "G2"}, {{"D1", "T1"}, {"D2", "T2"}}, "X"}, "S", true, "G1\r\nG2\r\nD1\r\nT1\r\nD2\r\nT2\r\nX\r\nS"},
        {"description left out when the event text was not cut", {{"G1"}, {{"D1", "T1"}}, ""}, "S", false,
         "G1\r\nD1\r\nT1"},
        {"item without description: its text only", {{}, {{"", "T1"}, {"D2", "T2"}}, ""}, nullptr, false,
         "T1\r\nD2\r\nT2"},
        {"item without text: its description only", {{}, {{"D1", ""}, {"D2", "T2"}}, ""}, nullptr, false,
         "D1\r\nD2\r\nT2"},
        {"line breaks inside a text are kept", {{}, {{"D", "a\r\nb\r\n\r\nc"}}, ""}, nullptr, false,
         "D\r\na\r\nb\r\n\r\nc"},
        {"lone CR and LF become CR LF", {{}, {{"D", "a\rb\nc"}}, ""}, nullptr, false, "D\r\na\r\nb\r\nc"},
        {"breaks at the end of a text add no line", {{}, {{"D", "a\r\n\r\n"}, {"E", "b"}}, ""}, nullptr, false,
         "D\r\na\r\nE\r\nb"},
        {"a text of breaks only is left out", {{}, {{"D", "\r\n"}}, "X"}, nullptr, false, "D\r\nX"},
        {"80 bytes stay on one line", {{}, {{"", x80}}, ""}, nullptr, false, x80},
        {"81 bytes wrap after 80", {{}, {{"", x80 + "y"}}, ""}, nullptr, false, x80 + "\r\ny"},
        {"200 bytes: 80, 80, 40", {{}, {{"", std::string(200, 'x')}}, ""}, nullptr, false,
         x80 + "\r\n" + x80 + "\r\n" + std::string(40, 'x')},
        {"a two-byte character at byte 80 moves to the next line", {{}, {{"", x79 + a + "y"}}, ""}, nullptr, false,
         x79 + "\r\n" + a + "y"},
        {"a two-byte character ending at byte 80 stays", {{}, {{"", std::string(78, 'x') + a + "y"}}, ""}, nullptr,
         false, std::string(78, 'x') + a + "\r\ny"},
        {"40 full-width characters on one line, the 41st on the next", {{}, {{"", Repeat(a, 41)}}, ""}, nullptr,
         false, Repeat(a, 40) + "\r\n" + a},
        {"a line break resets the width", {{}, {{"", x79 + "\r\n" + x80}}, ""}, nullptr, false,
         x79 + "\r\n" + x80},
        {"exactly 80 bytes then a break: no empty line", {{}, {{"", x80 + "\r\nb"}}, ""}, nullptr, false,
         x80 + "\r\nb"},
        {"long description wraps too", {}, longDescription.c_str(), true, std::string(80, 'd') + "\r\nd"},
        {"lead byte at the end of a text is dropped", {{}, {{"D", "a\x82"}}, "X"}, nullptr, false, "D\r\na\r\nX"},
        {"a break followed only by a dropped byte adds no line", {{}, {{"D", "a\r\n\x82"}}, "X"}, nullptr, false,
         "D\r\na\r\nX"},
        {"lead byte before a break is dropped, the break kept", {{}, {{"", "a\x82\r\nb"}}, ""}, nullptr, false,
         "a\r\nb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<EventDetails> d = Make(c.fields);
        EXPECT_EQ(c.expected, Tooltip(*d, c.shortDescription, c.cut, 4096));
    }
}

// True when `s` is a sequence of whole Shift_JIS characters.
bool WholeCharacters(const std::string& s) {
    for (size_t i = 0; i < s.size(); ++i) {
        const uint8_t b = static_cast<uint8_t>(s[i]);
        if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) {
            if (i + 1 >= s.size()) return false;
            ++i;
        }
    }
    return true;
}

TEST(EventDetailsTooltip, EveryCapacityGivesAPrefixOfWholeCharacters) {
    const std::string a = Sjis("あ");
    std::unique_ptr<EventDetails> d = Make({{Sjis("ジャンル：拡張")},
                                            {{Sjis("出演"), "x" + Repeat(a, 45) + "\r\n\r\n" + a},
                                             {"", std::string(81, 'y')}},
                                            Sjis("第一回")});
    const std::string description = Repeat(a, 3);
    const std::string full = Tooltip(*d, description.c_str(), true, 4096);
    ASSERT_FALSE(full.empty());
    for (int32_t capacity = 0; capacity <= static_cast<int32_t>(full.size()) + 2; ++capacity) {
        SCOPED_TRACE(capacity);
        const std::string part = Tooltip(*d, description.c_str(), true, capacity);
        EXPECT_EQ(full.compare(0, part.size(), part), 0) << "not a prefix";
        EXPECT_TRUE(WholeCharacters(part));
        EXPECT_FALSE(part.size() >= 1 && part.back() == '\r') << "half a line break";
        EXPECT_FALSE(part.size() >= 2 && part.compare(part.size() - 2, 2, "\r\n") == 0) << "ends in a break";
        if (capacity > static_cast<int32_t>(full.size())) {
            EXPECT_EQ(full, part);
        }
        // A capacity that cuts keeps everything up to the character that did
        // not fit: at most one character and the breaks before it are lost.
        if (capacity >= 1 && capacity <= static_cast<int32_t>(full.size())) {
            const int32_t kLargestUnit = 2 * 2 + 2;  // two held-back breaks and a two-byte character
            EXPECT_GT(static_cast<int32_t>(part.size()), capacity - 1 - kLargestUnit);
        }
    }
}

TEST(EventDetailsTooltip, ReadDetailsEndToEnd) {
    const Bytes loop = Cat({Content({0x00, 0x01}),
                            Extended(0, 1, {{A("番組内容"), Cat({A("今日の"), {0x30}})}}),
                            Extended(1, 1, {{{}, {0x21}}, {A("出演"), A("山田")}})});
    std::unique_ptr<EventDetails> d = Read(loop, SymbolStyle::kBracketed);
    EXPECT_TRUE(HasEventDetails(*d));
    EXPECT_EQ(Sjis("ジャンル：ニュース／報道 - 定時・総合\r\nジャンル：ニュース／報道 - 天気\r\n"
                   "番組内容\r\n今日の亜\r\n出演\r\n山田"),
              Tooltip(*d, nullptr, false, 1024));
}

TEST(EventDetailsTooltip, HasEventDetailsWhenTheTooltipShowsThem) {
    struct Case {
        const char* name;
        std::unique_ptr<EventDetails> details;
        bool expected;
    };
    Case cases[] = {
        {"nothing", EmptyDetails(), false},
        {"a genre", Make({{"G"}, {}, ""}), true},
        {"an item text", Make({{}, {{"", "T"}}, ""}), true},
        {"an item description", Make({{}, {{"D", ""}}, ""}), true},
        {"text_char", Make({{}, {}, "X"}), true},
        // Items whose texts decode to nothing visible show nothing.
        {"item of size controls", Read(Extended(0, 0, {{Bytes{0x89}, Bytes{0x8A}}})), false},
        {"item of a line break", Read(Extended(0, 0, {{Bytes{0x0D}, Bytes()}})), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, HasEventDetails(*c.details));
        EXPECT_EQ(c.expected, !Tooltip(*c.details, nullptr, false, 64).empty());
    }
}

// Series and event group descriptors: the series line and the relay line,
// and where the tooltip shows them.
TEST(EventDetailsLinks, SeriesAndRelayLines) {
    build::Series series;
    series.seriesId = 0x0123;
    series.episodeNumber = 3;
    series.lastEpisodeNumber = 12;
    series.name = A("渡り鳥の空");
    build::Series unnumbered = series;
    unnumbered.episodeNumber = 0;
    build::Series noTotal = series;
    noTotal.lastEpisodeNumber = 0;
    noTotal.name.clear();
    build::Series totalBelow = noTotal;
    totalBelow.episodeNumber = 5;
    totalBelow.lastEpisodeNumber = 3;
    build::Series bare = noTotal;
    bare.episodeNumber = 0;
    const Bytes seriesBytes = build::SeriesDescriptor(series);
    const Bytes shortSeries = Descriptor(0xD5, Bytes(seriesBytes.begin() + 2, seriesBytes.begin() + 9));  // 7 bytes
    const Bytes relay = build::EventGroupDescriptor(2, {{0, 0, 0x0401, 0x2002}});
    struct Case {
        const char* name;
        Bytes loop;
        const char* series;  // UTF-8
        const char* relay;
    };
    const Case cases[] = {
        {"episode of a total, with the name", seriesBytes, "シリーズ: 第3回／全12回「渡り鳥の空」", ""},
        {"episode alone", build::SeriesDescriptor(noTotal), "シリーズ: 第3回", ""},
        {"a total below the episode is not shown", build::SeriesDescriptor(totalBelow), "シリーズ: 第5回", ""},
        {"no episode: the name", build::SeriesDescriptor(unnumbered), "シリーズ: 「渡り鳥の空」", ""},
        {"neither: no line", build::SeriesDescriptor(bare), "", ""},
        {"the first whole series descriptor counts",
         Cat({shortSeries, build::SeriesDescriptor(noTotal), seriesBytes}), "シリーズ: 第3回", ""},
        {"relay in the network", relay, "", "リレー: サービス 1025 イベント 8194"},
        {"relay to another network",
         build::EventGroupDescriptor(4, {}, {{0x7FE1, 0x7FE2, 0x0500, 0x1234}}), "",
         "リレー: ネットワーク 32737 サービス 1280 イベント 4660"},
        {"shared events and movements are no relay",
         Cat({build::EventGroupDescriptor(1, {{0, 0, 0x0401, 0x2002}}),
              build::EventGroupDescriptor(3, {{0, 0, 0x0402, 0x2003}}),
              build::EventGroupDescriptor(5, {}, {{0x7FE1, 0x7FE2, 0x0500, 0x1234}})}),
         "", ""},
        {"a shared group, then the relay", Cat({build::EventGroupDescriptor(1, {{0, 0, 0x0402, 0x2003}}), relay}), "",
         "リレー: サービス 1025 イベント 8194"},
        {"a relay without events", build::EventGroupDescriptor(2, {}), "", ""},
        {"a relay cut inside its event", Descriptor(0xD6, {0x21, 0x04, 0x01}), "", ""},
        {"another network's relay cut before its event", Descriptor(0xD6, {0x41, 0x04, 0x01, 0x20, 0x02, 0x7F}), "",
         ""},
        {"both", Cat({relay, seriesBytes}), "シリーズ: 第3回／全12回「渡り鳥の空」", "リレー: サービス 1025 イベント 8194"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<EventDetails> d = Read(c.loop);
        EXPECT_EQ(Sjis(c.series), d->series);
        EXPECT_EQ(Sjis(c.relay), d->relay);
        EXPECT_EQ(c.series[0] != '\0' || c.relay[0] != '\0', HasEventDetails(*d));
    }
    // In the tooltip: after the genres, before the items.
    const std::unique_ptr<EventDetails> d =
        Read(Cat({Extended(0, 0, {{A("出演"), A("山田")}}), relay, Content({0x30}), seriesBytes}));
    EXPECT_EQ(Sjis("ジャンル：ドラマ - 国内ドラマ\r\nシリーズ: 第3回／全12回「渡り鳥の空」\r\n"
                   "リレー: サービス 1025 イベント 8194\r\n出演\r\n山田"),
              Tooltip(*d, nullptr, false, 1024));
}

}  // namespace
