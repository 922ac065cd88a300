// EIT present/following sections to the viewer's event text: layouts, times,
// descriptors, change keys, views, and sections whose lengths lie.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "plugin/router.h"
#include "tests/support/test_plugin.h"
#include "tests/unit/text_test_helpers.h"
#include "text/event_formatter.h"
#include "tools/streamkit/arib_encoder.h"
#include "tools/streamkit/stream_builder.h"
#include "ui/programme_display.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

using build::Bytes;

const uint16_t kService = 0x0408;
const uint16_t kMjd20090401 = 54922;  // 0xD68A

build::EitEvent RawEvent(const uint8_t start[3], const uint8_t duration[3], const Bytes& descriptors = Bytes()) {
    build::EitEvent e;
    e.startMjd = kMjd20090401;
    std::memcpy(e.start, start, 3);
    std::memcpy(e.duration, duration, 3);
    e.descriptors = descriptors;
    return e;
}

Bytes PresentSection(const build::EitEvent& e) { return build::EitPfSection(kService, 0, {e}); }
Bytes FollowingSection(const build::EitEvent& e) { return build::EitPfSection(kService, 1, {e}); }

Bytes FullEventDescriptors() {
    build::AudioComponent stereo;  // stream_content 2, type 0x03, flags 0x5F, jpn
    build::AudioComponent dual;
    dual.componentType = 0x02;
    dual.flags = 0xBF;
    dual.language2 = "eng";
    return build::Cat({build::ShortEventDescriptor(Alnum("TITLE"), Alnum("TEXT")),
                       build::Descriptor(0x50, {0xF1, 0xB3, 0x00, 'j', 'p', 'n'}),
                       build::AudioComponentDescriptor(stereo), build::AudioComponentDescriptor(dual)});
}

void Put(SectionMailbox& box, const Bytes& section) {
    ASSERT_LE(section.size(), sizeof box.data);
    std::memcpy(box.data, section.data(), section.size());
    box.length = static_cast<int32_t>(section.size());
}

void Present(TestPlugin& t, const Bytes& section) {
    Put(t.s().presentMailbox, section);
    HandlePresentEvent(t.s());
}

void Following(TestPlugin& t, const Bytes& section) {
    Put(t.s().followingMailbox, section);
    HandleFollowingEvent(t.s());
}

// A section with no room for an event: the EIT header and the CRC_32 only,
// or padded up to section_length with zero bytes.
Bytes EventlessSection(int sectionLength, uint8_t sectionNumber) {
    Bytes b = {0x4E, 0xF0, 0x00, kService >> 8, kService & 0xFF, 0xC1, sectionNumber, 0x01,
               0x7F, 0xE0, 0x7F, 0xE0, 0x01, 0x4E};
    b.resize(static_cast<size_t>(sectionLength + 3 - 4), 0x00);
    b.insert(b.end(), {0x12, 0x34, 0x56, 0x78});
    b[1] = static_cast<uint8_t>(0xF0 | (sectionLength >> 8));
    b[2] = static_cast<uint8_t>(sectionLength & 0xFF);
    return b;
}

int CountControl(TestPlugin& t, int32_t id) {
    int n = 0;
    for (const auto& c : t.platform.controlHistory) n += c.first == id;
    return n;
}

// --- A full event: text, video, two audio components ----------------------------

TEST(EventText, FullEventGivesThreeLinesAndEndTime) {
    TestPlugin t;
    const uint8_t start[3] = {0x21, 0x54, 0x00};
    const uint8_t duration[3] = {0x02, 0x10, 0x30};
    Bytes section = PresentSection(RawEvent(start, duration, FullEventDescriptors()));
    ASSERT_EQ(section[16], 0xD6);
    ASSERT_EQ(section[17], 0x8A);

    Present(t, section);

    const std::string expected =
        "21:54:00 - 00:04:30 ('09/04/01) 1080i(16:9) S(jpn)B D(jpn eng)-\r\n" + Sjis("【TITLE】") + "\r\nTEXT";
    EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT), expected);
    EXPECT_EQ(std::string(t.s().presentText), expected);
    EXPECT_EQ(t.s().presentEndHour, 0);
    EXPECT_EQ(t.s().presentEndMinute, 4);
    EXPECT_EQ(t.s().presentEndSecond, 30);
    EXPECT_EQ(t.s().eventYear, 2009);
    EXPECT_EQ(t.s().eventMonth, 4);
    EXPECT_EQ(t.s().eventDay, 1);
    EXPECT_EQ(t.s().lastPresentKey,
              (uint32_t(section[section.size() - 4]) << 24) | (uint32_t(section[section.size() - 3]) << 16) |
                  (uint32_t(section[section.size() - 2]) << 8) | section[section.size() - 1]);
}

TEST(EventText, UndeterminedIsTheExactShiftJisBytes) {
    TestPlugin t;
    const uint8_t start[3] = {0xFF, 0xFF, 0xFF};
    Following(t, FollowingSection(RawEvent(start, start)));
    const std::string text(t.s().followingText);
    EXPECT_EQ(text.substr(0, 4), "\x96\xA2\x92\xE8");
    EXPECT_NE(text.find("\x81\x79\x81\x7A"), std::string::npos);
}

TEST(EventText, JapaneseTitleAndDescriptionComeThroughTheDecoder) {
    TestPlugin t;
    const uint8_t start[3] = {0x19, 0x00, 0x00};
    const uint8_t duration[3] = {0x00, 0x54, 0x00};
    Present(t, PresentSection(RawEvent(
                   start, duration,
                   build::ShortEventDescriptor(EncodeAribFromUtf8("ニュース７"),
                                               EncodeAribFromUtf8("きょうの出来事\n天気")))));
    EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT),
              "19:00:00 - 19:54:00 ('09/04/01)   \r\n" + Sjis("【ニュース７】\r\nきょうの出来事\r\n天気"));
}

// A real BS title: the additional symbol [再] by a single shift of G3, the
// rest as the test encoder writes it. The symbol is the user-defined code
// (or "[再]"), never the kanji that the pair 0x7A 0x6A is in JIS X 0208.
TEST(EventText, RealTitleWithASingleShiftedSymbol) {
    const Bytes head = {0x1B, 0x24, 0x2B, 0x3B, 0x1D, 0x7A, 0x6A};
    const Bytes title = build::Cat({head, EncodeAribFromUtf8("ＶＡＮで勝ち馬さがしてみませんか #76")});
    const Bytes realStart = {0x1B, 0x24, 0x2B, 0x3B, 0x1D, 0x7A, 0x6A, 0x0E, 0x56, 0x41, 0x4E};
    ASSERT_EQ(realStart, Bytes(title.begin(), title.begin() + 11));
    const uint8_t start[3] = {0x19, 0x00, 0x00};
    const uint8_t duration[3] = {0x00, 0x54, 0x00};
    const Bytes section = PresentSection(RawEvent(start, duration, build::ShortEventDescriptor(title, Bytes())));
    const std::string rest = Sjis("ＶＡＮで勝ち馬さがしてみませんか #76");
    auto out = std::make_unique<EventOutcome>();
    FormatEvent(section.data(), static_cast<int32_t>(section.size()), false, SymbolStyle::kUserDefined, *out);
    EXPECT_NE(std::string(out->text).find("\xF2\x5A" + rest), std::string::npos) << out->text;
    FormatEvent(section.data(), static_cast<int32_t>(section.size()), false, SymbolStyle::kBracketed, *out);
    EXPECT_NE(std::string(out->text).find(Sjis("[再]") + rest), std::string::npos) << out->text;
}

// --- Times and layouts ---------------------------------------------------------

struct LayoutCase {
    const char* name;
    bool following;
    uint8_t start[3];
    uint8_t duration[3];
    const char* firstLine;  // UTF-8; the video and audio texts are empty
    int32_t stored[3];      // present: end time; following: start time
    int32_t storedDuration[2];  // following only
};

const LayoutCase kLayoutCases[] = {
    {"present determined, carries into midnight", false, {0x21, 0x54, 0x00}, {0x02, 0x10, 0x30},
     "21:54:00 - 00:04:30 ('09/04/01)   ", {0, 4, 30}, {0, 0}},
    {"present undetermined duration", false, {0x21, 0x54, 0x00}, {0xFF, 0xFF, 0xFF},
     "21:54:00 - 未定 ('09/04/01)   ", {-1, -1, -1}, {0, 0}},
    {"minutes 0x60 are determined", false, {0x21, 0x54, 0x00}, {0x00, 0x60, 0x00},
     "21:54:00 - 22:54:00 ('09/04/01)   ", {22, 54, 0}, {0, 0}},
    {"seconds 0x60 are determined", false, {0x21, 0x54, 0x30}, {0x00, 0x00, 0x60},
     "21:54:30 - 21:55:30 ('09/04/01)   ", {21, 55, 30}, {0, 0}},
    {"minutes 0x61 are undetermined", false, {0x10, 0x00, 0x00}, {0x01, 0x61, 0x00},
     "10:00:00 - 未定 ('09/04/01)   ", {-1, -1, -1}, {0, 0}},
    {"seconds 0x61 are undetermined", false, {0x10, 0x00, 0x00}, {0x01, 0x00, 0x61},
     "10:00:00 - 未定 ('09/04/01)   ", {-1, -1, -1}, {0, 0}},
    {"duration hours are not tested", false, {0x10, 0x00, 0x00}, {0xFF, 0x00, 0x00},
     "10:00:00 - 151:00:00 ('09/04/01)   ", {151, 0, 0}, {0, 0}},
    {"end past midnight keeps the start date", false, {0x23, 0x30, 0x00}, {0x01, 0x00, 0x00},
     "23:30:00 - 00:30:00 ('09/04/01)   ", {0, 30, 0}, {0, 0}},
    {"ends exactly at midnight", false, {0x23, 0x00, 0x00}, {0x01, 0x00, 0x00},
     "23:00:00 - 00:00:00 ('09/04/01)   ", {0, 0, 0}, {0, 0}},
    {"second and minute carries together", false, {0x10, 0x59, 0x59}, {0x00, 0x00, 0x01},
     "10:59:59 - 11:00:00 ('09/04/01)   ", {11, 0, 0}, {0, 0}},
    {"present start 0xFF prints 165", false, {0xFF, 0xFF, 0xFF}, {0x01, 0x00, 0x00},
     "165:165:165 - 144:47:45 ('09/04/01)   ", {144, 47, 45}, {0, 0}},
    {"following start and duration undetermined", true, {0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF},
     "未定 - 未定 (未定)   ", {165, 165, 165}, {165, 165}},
    {"following start undetermined, duration determined", true, {0x20, 0x61, 0x00}, {0x01, 0x00, 0x00},
     "未定 - 未定 (未定)   ", {20, 61, 0}, {1, 0}},
    // An undetermined second alone makes the whole start undetermined.
    {"following start second 0xFF undetermined", true, {0x22, 0x00, 0xFF}, {0x01, 0x00, 0x00},
     "未定 - 未定 (未定)   ", {22, 0, 165}, {1, 0}},
    {"following start second 0x61 undetermined", true, {0x22, 0x00, 0x61}, {0x01, 0x00, 0x00},
     "未定 - 未定 (未定)   ", {22, 0, 61}, {1, 0}},
    {"following start hour is not tested", true, {0xFF, 0x00, 0x00}, {0x01, 0x00, 0x00},
     "165:00:00 - 142:00:00 ('09/04/01)   ", {165, 0, 0}, {1, 0}},
    {"following undetermined duration", true, {0x23, 0x30, 0x00}, {0xFF, 0xFF, 0xFF},
     "23:30:00 - 未定 ('09/04/01)   ", {23, 30, 0}, {165, 165}},
    {"following determined past midnight", true, {0x23, 0x30, 0x00}, {0x01, 0x00, 0x00},
     "23:30:00 - 00:30:00 ('09/04/01)   ", {23, 30, 0}, {1, 0}},
    // 60 passes the "undetermined" test: printed as it is, carried into the end.
    {"following start minute 0x60 is shown", true, {0x20, 0x60, 0x00}, {0x01, 0x00, 0x00},
     "20:60:00 - 22:00:00 ('09/04/01)   ", {20, 60, 0}, {1, 0}},
    {"following start second 0x60 is shown", true, {0x20, 0x59, 0x60}, {0x01, 0x00, 0x00},
     "20:59:60 - 22:00:00 ('09/04/01)   ", {20, 59, 60}, {1, 0}},
    {"following duration minutes 0x60 are determined", true, {0x21, 0x00, 0x00}, {0x00, 0x60, 0x00},
     "21:00:00 - 22:00:00 ('09/04/01)   ", {21, 0, 0}, {0, 60}},
};

TEST(EventText, LayoutsAndStoredTimes) {
    for (const LayoutCase& c : kLayoutCases) {
        SCOPED_TRACE(c.name);
        TestPlugin t;
        t.s().view = c.following ? View::kFollowing : View::kPresent;
        Bytes section = c.following ? FollowingSection(RawEvent(c.start, c.duration))
                                    : PresentSection(RawEvent(c.start, c.duration));
        if (c.following) {
            Following(t, section);
        } else {
            Present(t, section);
        }
        // No descriptors: empty video and audio texts, empty brackets, an
        // empty third line.
        const std::string expected = Sjis(c.firstLine) + "\r\n" + Sjis("【】") + "\r\n";
        EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT), expected);
        if (c.following) {
            EXPECT_EQ(std::string(t.s().followingText), expected);
            EXPECT_EQ(t.s().followingStartHour, c.stored[0]);
            EXPECT_EQ(t.s().followingStartMinute, c.stored[1]);
            EXPECT_EQ(t.s().followingStartSecond, c.stored[2]);
            EXPECT_EQ(t.s().followingDurationHours, c.storedDuration[0]);
            EXPECT_EQ(t.s().followingDurationMinutes, c.storedDuration[1]);
            EXPECT_EQ(t.s().presentEndHour, -1);
        } else {
            EXPECT_EQ(std::string(t.s().presentText), expected);
            EXPECT_EQ(t.s().presentEndHour, c.stored[0]);
            EXPECT_EQ(t.s().presentEndMinute, c.stored[1]);
            EXPECT_EQ(t.s().presentEndSecond, c.stored[2]);
            EXPECT_EQ(t.s().followingStartHour, -1);
        }
    }
}

// A following event's BCD fields of 0x60 from the section to the text and to
// the recording request: the text takes 60 as a determined value, the
// request does not.
TEST(EventText, FollowingFieldsOf60FromTextToRecordingRequest) {
    struct Case {
        const char* name;
        uint8_t start[3];
        uint8_t duration[3];
        const char* firstLine;
        std::vector<std::pair<uint32_t, uint32_t>> posted;
    };
    // Clock 20:00:00 just after a TOT.
    const Case cases[] = {
        {"start minute 0x60: shown, no request", {0x20, 0x60, 0x00}, {0x01, 0x00, 0x00},
         "20:60:00 - 22:00:00 ('09/04/01)   ", {}},
        {"start second 0x60: shown, counted as 60 seconds", {0x20, 0x59, 0x60}, {0x01, 0x00, 0x00},
         "20:59:60 - 22:00:00 ('09/04/01)   ", {{WM_RECORD_REQUEST, (3589u << 16) | 61u}}},
        {"duration minutes 0x60: an end time, but the unknown length is asked", {0x21, 0x00, 0x00},
         {0x00, 0x60, 0x00}, "21:00:00 - 22:00:00 ('09/04/01)   ", {{WM_RECORD_REQUEST, (3589u << 16) | 180u}}},
        {"start minute 0x59 for comparison", {0x20, 0x59, 0x00}, {0x01, 0x00, 0x00},
         "20:59:00 - 21:59:00 ('09/04/01)   ", {{WM_RECORD_REQUEST, (3529u << 16) | 61u}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlugin t;
        t.s().view = View::kFollowing;
        t.s().clockHour = 20;
        t.s().tickCount = 0;
        Following(t, FollowingSection(RawEvent(c.start, c.duration)));
        EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT), Sjis(c.firstLine) + "\r\n" + Sjis("【】") + "\r\n");
        ViewerCommand(t.s(), IDC_RECORD_REQUEST);
        EXPECT_EQ(t.platform.ownerPosted, c.posted);
    }
}

TEST(EventText, YearIsPrintedModuloHundred) {
    TestPlugin t;
    const uint8_t start[3] = {0x08, 0x00, 0x00};
    const uint8_t duration[3] = {0x00, 0x30, 0x00};
    build::EitEvent e = RawEvent(start, duration);
    e.startMjd = 0xFFFF;  // 2038-04-22
    Present(t, PresentSection(e));
    EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT).substr(0, 31), "08:00:00 - 08:30:00 ('38/04/22)");
    e.startMjd = 51544;  // 2000-01-01
    Present(t, PresentSection(e));
    EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT).substr(0, 31), "08:00:00 - 08:30:00 ('00/01/01)");
}

// --- MjdToDate ---------------------------------------------------------------------

// Days since 1970-01-01 of a proleptic Gregorian date (the days-from-civil
// algorithm), as an oracle independent of the MJD formula.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int32_t& year, int32_t& month, int32_t& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int32_t>(yoe + era * 400 + (month <= 2));
}

// MJD 0 is 1858-11-17.
int64_t Mjd(int y, int m, int d) { return DaysFromCivil(y, m, d) - DaysFromCivil(1858, 11, 17); }

TEST(MjdToDate, KnownDates) {
    struct Case {
        uint16_t mjd;
        int32_t year, month, day;
    };
    const Case cases[] = {
        {45218, 1982, 9, 6},  {54922, 2009, 4, 1}, {0xFFFF, 2038, 4, 22},
        {15079, 1900, 3, 1},  {51544, 2000, 1, 1}, {51603, 2000, 2, 29},
        {0, 1859, -1, 19},    // below 1900-03-01 the formula's values are used as they come
    };
    for (const Case& c : cases) {
        int32_t y = 0, m = 0, d = 0;
        MjdToDate(c.mjd, y, m, d);
        EXPECT_EQ(y, c.year) << c.mjd;
        EXPECT_EQ(m, c.month) << c.mjd;
        EXPECT_EQ(d, c.day) << c.mjd;
    }
}

TEST(MjdToDate, EveryDayFrom1900To2100MatchesTheCivilCalendar) {
    const int64_t first = Mjd(1900, 3, 1);
    ASSERT_EQ(first, 15079);
    // A 16-bit MJD ends at 2038-04-22; the formula is exact up to
    // 2100-02-28, which lies beyond it.
    const int64_t last = Mjd(2100, 2, 28) < 0xFFFF ? Mjd(2100, 2, 28) : 0xFFFF;
    int failures = 0;
    for (int64_t mjd = first; mjd <= last && failures < 5; ++mjd) {
        int32_t y = 0, m = 0, d = 0, ey = 0, em = 0, ed = 0;
        MjdToDate(static_cast<uint16_t>(mjd), y, m, d);
        CivilFromDays(mjd + DaysFromCivil(1858, 11, 17), ey, em, ed);
        if (y != ey || m != em || d != ed) {
            ADD_FAILURE() << "MJD " << mjd << ": " << y << "-" << m << "-" << d << " expected " << ey << "-"
                          << em << "-" << ed;
            ++failures;
        }
    }
}

// --- Change key, length test, views and the clock ------------------------------

TEST(EventText, SameChangeKeyChangesNothingButThePresentStillTicks) {
    TestPlugin t;
    t.s().tickCount = 0;  // as after a TOT
    t.s().clockHour = 12;
    t.s().clockMinute = 34;
    t.s().clockSecond = 56;
    const uint8_t start[3] = {0x21, 0x54, 0x00};
    const uint8_t duration[3] = {0x02, 0x10, 0x30};
    Bytes section = PresentSection(RawEvent(start, duration, FullEventDescriptors()));
    Present(t, section);
    EXPECT_EQ(CountControl(t, IDC_INFO_TEXT), 1);
    EXPECT_EQ(t.s().tickCount, 1);

    // The same section again, after the stored values were disturbed: the
    // handler neither formats nor stores, but the clock moves on.
    t.s().presentEndHour = 7;
    t.s().presentText[0] = 'X';
    Present(t, section);
    EXPECT_EQ(CountControl(t, IDC_INFO_TEXT), 1);
    EXPECT_EQ(t.s().presentEndHour, 7);
    EXPECT_EQ(t.s().presentText[0], 'X');
    EXPECT_EQ(t.s().tickCount, 2);
    EXPECT_EQ(t.platform.Text(IDC_CLOCK), "12:34:58");
}

TEST(EventText, FollowingSameKeyIsIgnoredUntilTheKeyIsReset) {
    TestPlugin t;
    t.s().view = View::kFollowing;
    const uint8_t start[3] = {0x22, 0x00, 0x00};
    const uint8_t duration[3] = {0x00, 0x30, 0x00};
    Bytes section = FollowingSection(RawEvent(start, duration));
    Following(t, section);
    Following(t, section);
    EXPECT_EQ(CountControl(t, IDC_INFO_TEXT), 1);
    t.s().lastFollowingKey = 0;
    Following(t, section);
    EXPECT_EQ(CountControl(t, IDC_INFO_TEXT), 2);
}

TEST(EventText, CrcZeroCountsAsProcessedUntilAnotherSectionWas) {
    TestPlugin t;
    const uint8_t start[3] = {0x10, 0x00, 0x00};
    const uint8_t duration[3] = {0x00, 0x30, 0x00};
    Bytes zero = PresentSection(RawEvent(start, duration));
    std::fill(zero.end() - 4, zero.end(), 0x00);
    Present(t, zero);
    EXPECT_EQ(CountControl(t, IDC_INFO_TEXT), 0);
    EXPECT_EQ(t.s().presentEndHour, -1);

    const uint8_t other[3] = {0x11, 0x00, 0x00};
    Present(t, PresentSection(RawEvent(other, duration)));
    Present(t, zero);
    EXPECT_EQ(CountControl(t, IDC_INFO_TEXT), 2);
    EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT).substr(0, 19), "10:00:00 - 10:30:00");
}

TEST(EventText, SectionWithoutAWholeEventEmptiesItsTextAndKeepsTheTimes) {
    // 15: no event at all. 16..26: the event header would reach into the
    // CRC_32 or beyond the section. 27 is the shortest section with an event.
    struct Case {
        int sectionLength;
        bool following;
    };
    const Case cases[] = {{15, false}, {15, true}, {16, false}, {22, true}, {26, false}, {26, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "section_length " << c.sectionLength << (c.following ? " following" : ""));
        TestPlugin t;
        t.s().view = c.following ? View::kFollowing : View::kPresent;
        const uint8_t start[3] = {0x10, 0x00, 0x00};
        const uint8_t duration[3] = {0x00, 0x30, 0x00};
        if (c.following) {
            Following(t, FollowingSection(RawEvent(start, duration)));
        } else {
            Present(t, PresentSection(RawEvent(start, duration)));
        }
        ASSERT_NE(t.platform.Text(IDC_INFO_TEXT), "");

        Bytes empty = EventlessSection(c.sectionLength, c.following ? 1 : 0);
        if (c.following) {
            Following(t, empty);
            EXPECT_EQ(t.s().followingText[0], '\0');
            EXPECT_EQ(t.s().followingStartHour, 10);
            EXPECT_EQ(t.s().followingDurationMinutes, 30);
            EXPECT_EQ(t.s().lastFollowingKey, 0x12345678u);
        } else {
            Present(t, empty);
            EXPECT_EQ(t.s().presentText[0], '\0');
            EXPECT_EQ(t.s().presentEndHour, 10);
            EXPECT_EQ(t.s().presentEndMinute, 30);
            EXPECT_EQ(t.s().lastPresentKey, 0x12345678u);
        }
        EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT), "");
        EXPECT_EQ(CountControl(t, IDC_INFO_TEXT), 2);
    }
}

TEST(EventText, ShortestSectionWithAnEventIsFormatted) {
    TestPlugin t;
    const uint8_t start[3] = {0x10, 0x00, 0x00};
    const uint8_t duration[3] = {0x00, 0x30, 0x00};
    Bytes section = PresentSection(RawEvent(start, duration));
    ASSERT_EQ(((section[1] & 0x0F) << 8) | section[2], 27);
    Present(t, section);
    EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT), "10:00:00 - 10:30:00 ('09/04/01)   \r\n" + Sjis("【】") + "\r\n");
}

TEST(EventText, EachTextIsShownOnlyInItsOwnView) {
    const uint8_t start[3] = {0x10, 0x00, 0x00};
    const uint8_t duration[3] = {0x00, 0x30, 0x00};
    const uint8_t next[3] = {0x10, 0x30, 0x00};
    {
        SCOPED_TRACE("following view: a present section is stored, not shown");
        TestPlugin t;
        t.s().view = View::kFollowing;
        Present(t, PresentSection(RawEvent(start, duration)));
        EXPECT_EQ(CountControl(t, IDC_INFO_TEXT), 0);
        EXPECT_EQ(std::string(t.s().presentText).substr(0, 8), "10:00:00");
        EXPECT_EQ(t.s().presentEndMinute, 30);
        Following(t, FollowingSection(RawEvent(next, duration)));
        EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT).substr(0, 8), "10:30:00");
    }
    {
        SCOPED_TRACE("present view: a following section is stored, not shown");
        TestPlugin t;
        Following(t, FollowingSection(RawEvent(next, duration)));
        EXPECT_EQ(CountControl(t, IDC_INFO_TEXT), 0);
        EXPECT_EQ(std::string(t.s().followingText).substr(0, 8), "10:30:00");
        EXPECT_EQ(t.s().followingStartMinute, 30);
    }
}

TEST(EventText, ClockDoesNotTickForTheFollowingEventNorBeforeATot) {
    TestPlugin t;
    const uint8_t start[3] = {0x10, 0x00, 0x00};
    const uint8_t duration[3] = {0x00, 0x30, 0x00};
    Present(t, PresentSection(RawEvent(start, duration)));
    EXPECT_EQ(t.s().tickCount, -100);
    t.s().tickCount = 0;
    t.s().view = View::kFollowing;
    Following(t, FollowingSection(RawEvent(start, duration)));
    EXPECT_EQ(t.s().tickCount, 0);
}

TEST(EventText, MailboxWithoutAWholeSectionIsIgnored) {
    const uint8_t start[3] = {0x10, 0x00, 0x00};
    const uint8_t duration[3] = {0x00, 0x30, 0x00};
    Bytes section = PresentSection(RawEvent(start, duration));
    struct Case {
        const char* name;
        int32_t length;
    };
    const Case cases[] = {
        {"nothing handed over", 0},
        {"negative length", -5},
        {"header cut", 2},
        {"fewer bytes than section_length announces", static_cast<int32_t>(section.size()) - 1},
        {"length beyond the mailbox", kMaxSectionSize + 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlugin t;
        t.s().tickCount = 0;
        std::memcpy(t.s().presentMailbox.data, section.data(), section.size());
        t.s().presentMailbox.length = c.length;
        HandlePresentEvent(t.s());
        EXPECT_EQ(CountControl(t, IDC_INFO_TEXT), 0);
        EXPECT_EQ(t.s().lastPresentKey, 0u);
        EXPECT_EQ(t.s().tickCount, 1);
    }
    {
        SCOPED_TRACE("section_length 0");
        TestPlugin t;
        Bytes zero = {0x4E, 0xF0, 0x00};
        Present(t, zero);
        EXPECT_EQ(CountControl(t, IDC_INFO_TEXT), 0);
    }
}

TEST(EventText, MailboxLongerThanTheSectionReadsOnlyTheSection) {
    // The key is found at section_length, not at the end of what was copied.
    TestPlugin t;
    const uint8_t start[3] = {0x10, 0x00, 0x00};
    const uint8_t duration[3] = {0x00, 0x30, 0x00};
    Bytes section = PresentSection(RawEvent(start, duration));
    Bytes padded = section;
    padded.insert(padded.end(), 40, 0xAB);
    Present(t, padded);
    EXPECT_EQ(t.s().lastPresentKey, (uint32_t(section[section.size() - 4]) << 24) |
                                        (uint32_t(section[section.size() - 3]) << 16) |
                                        (uint32_t(section[section.size() - 2]) << 8) | section[section.size() - 1]);
}

// --- Descriptors -----------------------------------------------------------------------

struct DescriptorCase {
    const char* name;
    Bytes descriptors;
    const char* tail;  // UTF-8: what follows "('09/04/01) " in the text
};

build::AudioComponent Audio(uint8_t type, uint8_t flags, const char* language = "jpn",
                            const char* language2 = nullptr) {
    build::AudioComponent a;
    a.componentType = type;
    a.flags = flags;
    a.language = language;
    a.language2 = language2;
    return a;
}

std::vector<DescriptorCase> DescriptorCases() {
    using build::AudioComponentDescriptor;
    using build::Cat;
    using build::ComponentDescriptor;
    using build::ShortEventDescriptor;
    return {
        {"no descriptors", {}, "  \r\n【】\r\n"},
        {"two short events: the second stands",
         Cat({ShortEventDescriptor(Alnum("ONE"), Alnum("FIRST")), ShortEventDescriptor(Alnum("TWO"), Alnum("SECOND"))}),
         "  \r\n【TWO】\r\nSECOND"},
        {"short event with empty name and text", ShortEventDescriptor({}, {}), "  \r\n【】\r\n"},
        // A later short event descriptor empties both texts before it reads
        // its own, however little it carries.
        {"later empty short event empties title and text",
         Cat({ShortEventDescriptor(Alnum("ONE"), Alnum("FIRST")), ShortEventDescriptor({}, {})}),
         "  \r\n【】\r\n"},
        {"later short event without a body empties title and text",
         Cat({ShortEventDescriptor(Alnum("ONE"), Alnum("FIRST")), build::Descriptor(0x4D, {})}),
         "  \r\n【】\r\n"},
        {"later short event ending before its name length empties title and text",
         Cat({ShortEventDescriptor(Alnum("ONE"), Alnum("FIRST")), build::Descriptor(0x4D, {'j', 'p', 'n'})}),
         "  \r\n【】\r\n"},
        {"later short event ending before its text length keeps only its own name",
         Cat({ShortEventDescriptor(Alnum("ONE"), Alnum("FIRST")),
              build::Descriptor(0x4D, {'j', 'p', 'n', 0x03, 0x89, 0x0E, 'T'})}),
         "  \r\n【T】\r\n"},
        {"empty descriptors of every kind are skipped",
         Cat({build::Descriptor(0x4D, {}), build::Descriptor(0x50, {}), build::Descriptor(0xC4, {})}),
         "  \r\n【】\r\n"},
        {"later video component replaces the earlier",
         Cat({ComponentDescriptor(1, 0x01, 0), ComponentDescriptor(1, 0xC2, 0)}), "720p(16:9PV)  \r\n【】\r\n"},
        {"video component in eng", ComponentDescriptor(1, 0xB3, 0, "eng"), "  \r\n【】\r\n"},
        {"video component with component_tag 0x81", ComponentDescriptor(1, 0xB3, 0x81), "  \r\n【】\r\n"},
        {"component descriptor with stream_content 2", ComponentDescriptor(2, 0xB3, 0), "  \r\n【】\r\n"},
        {"video type outside the table keeps the earlier",
         Cat({ComponentDescriptor(1, 0xA3, 0), ComponentDescriptor(1, 0xB5, 0)}), "480p(16:9)  \r\n【】\r\n"},
        {"two main audio components follow each other",
         Cat({AudioComponentDescriptor(Audio(0x03, 0x5F)), AudioComponentDescriptor(Audio(0x01, 0x7F, "eng"))}),
         " S(jpn)BM(eng)- \r\n【】\r\n"},
        {"every audio mode and quality",
         Cat({AudioComponentDescriptor(Audio(0x07, 0x40)), AudioComponentDescriptor(Audio(0x08, 0x60)),
              AudioComponentDescriptor(Audio(0x09, 0x10))}),
         " 4(jpn)5(jpn) 5.1(jpn)B\r\n【】\r\n"},
        {"dual mono reads the second language without the multilingual flag",
         AudioComponentDescriptor(Audio(0x02, 0x50, "jpn", "eng")), " D(jpn eng)B \r\n【】\r\n"},
        {"audio type outside the table", AudioComponentDescriptor(Audio(0x04, 0x5F)), "  \r\n【】\r\n"},
        {"audio descriptor with stream_content 1",
         [] {
             build::AudioComponent a = Audio(0x03, 0x5F);
             a.streamContent = 1;
             return AudioComponentDescriptor(a);
         }(),
         "  \r\n【】\r\n"},
        {"language code stops at a zero byte",
         build::Descriptor(0xC4, {0xF2, 0x02, 0x10, 0x0F, 0xFF, 0x5F, 'j', 0x00, 'n', 'e', 0x00, 'g'}),
         " D(j e)B \r\n【】\r\n"},
        {"damaged language bytes become '?' so the text stays valid Shift_JIS",
         Cat({build::Descriptor(0xC4, {0xF2, 0x03, 0x10, 0x0F, 0xFF, 0x5F, 0xFF, 'p', 'n'}),
              build::Descriptor(0xC4, {0xF2, 0x02, 0x10, 0x0F, 0xFF, 0x5F, 'j', 0xA0, 'n', 0x81, 0x1F, 'g'})}),
         " S(?pn)BD(j?n ??g)B \r\n【】\r\n"},
        {"a third dual-mono main entry no longer fits and is left out whole; a shorter one still fits",
         Cat({AudioComponentDescriptor(Audio(0x02, 0xDF, "jpn", "eng")),
              AudioComponentDescriptor(Audio(0x02, 0xDF, "fra", "deu")),
              AudioComponentDescriptor(Audio(0x02, 0xDF, "ita", "spa")),
              AudioComponentDescriptor(Audio(0x03, 0x5F, "kor"))}),
         " D(jpn eng)BD(fra deu)BS(kor)B \r\n【】\r\n"},
        {"31 bytes fill the sub-audio text exactly",
         Cat({AudioComponentDescriptor(Audio(0x02, 0x9F, "jpn", "eng")),
              AudioComponentDescriptor(Audio(0x02, 0x9F, "fra", "deu")),
              AudioComponentDescriptor(Audio(0x09, 0x1F, "ita")),
              AudioComponentDescriptor(Audio(0x01, 0x0F, "kor"))}),
         "  D(jpn eng)BD(fra deu)B5.1(ita)B\r\n【】\r\n"},
        {"other tags are skipped",
         Cat({build::Descriptor(0x54, {0x31, 0x00}), ShortEventDescriptor(Alnum("T"), Alnum("D")),
              build::Descriptor(0xC1, {0x48})}),
         "  \r\n【T】\r\nD"},
    };
}

TEST(EventText, Descriptors) {
    const uint8_t start[3] = {0x10, 0x00, 0x00};
    const uint8_t duration[3] = {0x00, 0x30, 0x00};
    for (const DescriptorCase& c : DescriptorCases()) {
        SCOPED_TRACE(c.name);
        TestPlugin t;
        Present(t, PresentSection(RawEvent(start, duration, c.descriptors)));
        EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT), "10:00:00 - 10:30:00 ('09/04/01) " + Sjis(c.tail));
    }
}

TEST(EventText, EveryVideoFormat) {
    const struct {
        uint8_t type;
        const char* text;
    } formats[] = {
        {0x01, "480i(4:3)"},  {0x02, "480i(16:9PV)"},  {0x03, "480i(16:9)"},  {0x04, "480i(16:9>)"},
        {0xA1, "480p(4:3)"},  {0xA2, "480p(16:9PV)"},  {0xA3, "480p(16:9)"},  {0xA4, "480p(16:9>)"},
        {0xB1, "1080i(4:3)"}, {0xB2, "1080i(16:9PV)"}, {0xB3, "1080i(16:9)"}, {0xB4, "1080i(16:9>)"},
        {0xC1, "720p(4:3)"},  {0xC2, "720p(16:9PV)"},  {0xC3, "720p(16:9)"},  {0xC4, "720p(16:9>)"},
        {0xD1, "240p(4:3)"},  {0xD2, "240p(16:9PV)"},  {0xD3, "240p(16:9)"},  {0xD4, "240p(16:9>)"},
    };
    const uint8_t start[3] = {0x10, 0x00, 0x00};
    const uint8_t duration[3] = {0x00, 0x30, 0x00};
    for (const auto& f : formats) {
        TestPlugin t;
        Present(t, PresentSection(RawEvent(start, duration, build::ComponentDescriptor(1, f.type, 0))));
        EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT),
                  "10:00:00 - 10:30:00 ('09/04/01) " + std::string(f.text) + "  \r\n" + Sjis("【】") + "\r\n")
            << int(f.type);
    }
}

// --- Lengths that overrun what was collected ------------------------------------------------

// Writes descriptors_loop_length of the first event.
void SetLoopLength(Bytes& section, int length) {
    section[24] = static_cast<uint8_t>((section[24] & 0xF0) | ((length >> 8) & 0x0F));
    section[25] = static_cast<uint8_t>(length & 0xFF);
    build::Reseal(section);
}

TEST(EventText, OverrunningLengthsAreCutAtTheSection) {
    const uint8_t start[3] = {0x10, 0x00, 0x00};
    const uint8_t duration[3] = {0x00, 0x30, 0x00};
    const std::string line = "10:00:00 - 10:30:00 ('09/04/01) ";
    struct Case {
        const char* name;
        Bytes section;
        const char* tail;  // UTF-8
    };
    std::vector<Case> cases;
    {
        // descriptors_loop_length 4095: the walk stops at the CRC_32, whose
        // bytes are never taken for a descriptor.
        Bytes s = PresentSection(
            RawEvent(start, duration, build::ShortEventDescriptor(Alnum("T"), Alnum("D"))));
        SetLoopLength(s, 0xFFF);
        cases.push_back({"loop length beyond the section", s, "  \r\n【T】\r\nD"});
    }
    {
        // Name length 0xFF in a descriptor of 12 bytes: the name is what lies
        // inside the descriptor; there is no text length byte left.
        Bytes s = PresentSection(RawEvent(
            start, duration,
            build::Cat({build::Descriptor(0x4D, {'j', 'p', 'n', 0xFF, 0x89, 0x0E, 'A', 'B', 'C'}),
                        build::ComponentDescriptor(1, 0xB3, 0)})));
        cases.push_back({"name length beyond its descriptor", s, "1080i(16:9)  \r\n【ABC】\r\n"});
    }
    {
        Bytes s = PresentSection(RawEvent(
            start, duration,
            build::Cat({build::Descriptor(0x4D, {'j', 'p', 'n', 0x03, 0x89, 0x0E, 'A', 0xF0, 0x89, 0x0E, 'X', 'Y'}),
                        build::ComponentDescriptor(1, 0xB3, 0)})));
        cases.push_back({"text length beyond its descriptor", s, "1080i(16:9)  \r\n【A】\r\nXY"});
    }
    {
        // descriptor_length 0xFF on the last descriptor: cut at the CRC_32.
        Bytes s = PresentSection(
            RawEvent(start, duration, build::ShortEventDescriptor(Alnum("TITLE"), Alnum("TEXT"))));
        s[27] = 0xFF;
        SetLoopLength(s, 0xFFF);
        cases.push_back({"descriptor length beyond the section", s, "  \r\n【TITLE】\r\nTEXT"});
    }
    {
        // A short event whose descriptor_length hides the component behind
        // it: the walk resumes at the declared end, past the component.
        Bytes se = build::ShortEventDescriptor(Alnum("T"), Alnum("D"));
        Bytes comp = build::ComponentDescriptor(1, 0xB3, 0);
        Bytes s = PresentSection(RawEvent(start, duration, build::Cat({se, comp})));
        s[27] = static_cast<uint8_t>(s[27] + comp.size());
        build::Reseal(s);
        cases.push_back({"descriptor length that swallows the next", s, "  \r\n【T】\r\nD"});
    }
    {
        Bytes s = PresentSection(RawEvent(start, duration,
                                          build::Descriptor(0x50, {0xF1, 0xB3, 0x00, 'j', 'p'})));
        cases.push_back({"component descriptor without its whole language code", s, "  \r\n【】\r\n"});
    }
    {
        Bytes s = PresentSection(
            RawEvent(start, duration, build::Descriptor(0xC4, {0xF2, 0x03, 0x10, 0x0F, 0xFF})));
        cases.push_back({"audio descriptor without its flags", s, "  \r\n【】\r\n"});
    }
    {
        Bytes s = PresentSection(RawEvent(
            start, duration, build::Descriptor(0xC4, {0xF2, 0x02, 0x10, 0x0F, 0xFF, 0xDF, 'j', 'p', 'n'})));
        cases.push_back({"dual mono without a second language", s, " D(jpn )B \r\n【】\r\n"});
    }
    {
        Bytes s = PresentSection(
            RawEvent(start, duration, build::Descriptor(0xC4, {0xF2, 0x03, 0x10, 0x0F, 0xFF, 0x5F, 'j'})));
        cases.push_back({"audio language cut by its descriptor", s, " S(j)B \r\n【】\r\n"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlugin t;
        Present(t, c.section);
        EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT), line + Sjis(c.tail));
    }
}

TEST(EventText, LongTitleAndDescriptionAreCutToTheirBuffers) {
    // The title holds 127 bytes of text and the description 255: 200
    // middle-size alphanumerics (one byte each) give 127 of them; 200
    // normal-size ones (two bytes each) give 127 whole characters.
    const uint8_t start[3] = {0x10, 0x00, 0x00};
    const uint8_t duration[3] = {0x00, 0x30, 0x00};
    const std::string head = "10:00:00 - 10:30:00 ('09/04/01)   \r\n\x81\x79";
    Bytes fullWidth = {0x0E};  // LS1 in normal size
    fullWidth.insert(fullWidth.end(), 200, 'A');
    std::string fullWidthText;
    for (int i = 0; i < 127; ++i) fullWidthText += "\x82\x60";
    struct Case {
        const char* name;
        Bytes eventName, text;
        std::string expectedTitle, expectedDescription;
    };
    const Case cases[] = {
        {"long title", Alnum(std::string(200, 'N')), Alnum("D"), std::string(127, 'N'), "D"},
        {"long description", Alnum("T"), fullWidth, "T", fullWidthText},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlugin t;
        Present(t, PresentSection(RawEvent(start, duration, build::ShortEventDescriptor(c.eventName, c.text))));
        EXPECT_EQ(std::string(t.s().presentText),
                  head + c.expectedTitle + "\x81\x7A\r\n" + c.expectedDescription);
    }
}

// The short description is kept whole for the tooltip, and the event text
// counts as cut when its 255-byte description could not hold all of it.
// Bracketed symbols take twice the bytes of user-defined ones, so the same
// text can fit in one style and be cut in the other.
TEST(EventText, WholeDescriptionAndCutFlag) {
    const uint8_t start[3] = {0x10, 0x00, 0x00};
    const uint8_t duration[3] = {0x00, 0x30, 0x00};
    Bytes fullWidth = {0x0E};  // LS1 in normal size: two bytes per character
    fullWidth.insert(fullWidth.end(), 200, 'A');
    std::string fullWidthText;
    for (int i = 0; i < 200; ++i) fullWidthText += "\x82\x60";
    Bytes symbols = {0x1B, 0x24, 0x3B};  // additional symbols into G0
    std::string userDefined, bracketed;
    for (int i = 0; i < 70; ++i) {
        symbols.push_back(0x7A);
        symbols.push_back(0x56);  // the boxed 字
        userDefined += "\xF1\x83";
        bracketed += Sjis("[字]");
    }
    struct Case {
        const char* name;
        Bytes descriptors;
        SymbolStyle style;
        std::string whole;
        bool cut;
    };
    const Case cases[] = {
        {"short description", build::ShortEventDescriptor(Alnum("T"), Alnum("D")), SymbolStyle::kUserDefined, "D",
         false},
        {"no short event descriptor", Bytes(), SymbolStyle::kUserDefined, "", false},
        {"200 full-width characters", build::ShortEventDescriptor(Alnum("T"), fullWidth), SymbolStyle::kUserDefined,
         fullWidthText, true},
        {"a later descriptor replaces a long one",
         build::Cat({build::ShortEventDescriptor(Alnum("T"), fullWidth), build::ShortEventDescriptor(Alnum("T"), Alnum("D"))}),
         SymbolStyle::kUserDefined, "D", false},
        {"a later descriptor too short for a text empties it",
         build::Cat({build::ShortEventDescriptor(Alnum("T"), fullWidth), build::Descriptor(0x4D, {'j', 'p', 'n'})}),
         SymbolStyle::kUserDefined, "", false},
        {"70 symbols as user-defined characters fit", build::ShortEventDescriptor(Alnum("T"), symbols),
         SymbolStyle::kUserDefined, userDefined, false},
        {"70 symbols as bracketed text are cut", build::ShortEventDescriptor(Alnum("T"), symbols),
         SymbolStyle::kBracketed, bracketed, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes section = PresentSection(RawEvent(start, duration, c.descriptors));
        std::unique_ptr<EventOutcome> out(new EventOutcome);
        std::memset(out.get(), 0x5A, sizeof(EventOutcome));  // no stale terminators
        FormatEvent(section.data(), static_cast<int32_t>(section.size()), false, c.style, *out);
        EXPECT_EQ(std::string(out->fullDescription), c.whole);
        EXPECT_EQ(out->textCut, c.cut);
        // The event text shows a prefix of the whole description.
        const std::string text = out->text;
        const size_t at = text.find("\x81\x7A\r\n");
        ASSERT_NE(at, std::string::npos);
        const std::string shown = text.substr(at + 4);
        EXPECT_EQ(c.whole.compare(0, shown.size(), shown), 0);
        EXPECT_EQ(shown.size() < c.whole.size(), c.cut);
    }
}

TEST(EventText, CrcIsNeverReadAsDescriptorData) {
    // A short event descriptor with an empty name ends where the CRC_32
    // begins. The CRC_32 bytes 0x02 0x30 0x21 would read as a text of one
    // kanji if the walk or the descriptor ran into them.
    const uint8_t start[3] = {0x10, 0x00, 0x00};
    const uint8_t duration[3] = {0x00, 0x30, 0x00};
    struct Case {
        const char* name;
        uint8_t descriptorLength;
        int loopLength;
    };
    const Case cases[] = {
        {"loop length reaching into the CRC_32", 8, 10},
        {"descriptor length reaching into the CRC_32", 7, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes s = PresentSection(RawEvent(start, duration, {0x4D, c.descriptorLength, 'j', 'p', 'n', 0x00}));
        SetLoopLength(s, c.loopLength);
        const size_t n = s.size();
        s[n - 4] = 0x02;
        s[n - 3] = 0x30;
        s[n - 2] = 0x21;
        TestPlugin t;
        Present(t, s);
        EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT), "10:00:00 - 10:30:00 ('09/04/01)   \r\n" + Sjis("【】") + "\r\n");
    }
}

TEST(EventText, RandomSectionsNeverEscapeTheirBuffers) {
    // Random bytes behind a valid-looking EIT header, with random lengths in
    // every place: the handlers must stay inside the section (the sanitizer
    // builds check) and always leave NUL-terminated texts.
    std::mt19937 rng(20090401);
    for (int i = 0; i < 3000; ++i) {
        TestPlugin t;
        t.s().view = (i & 1) ? View::kFollowing : View::kPresent;
        const int sectionLength = 1 + static_cast<int>(rng() % (i < 2000 ? 300 : 4095));
        Bytes s(static_cast<size_t>(sectionLength + 3));
        for (uint8_t& b : s) b = static_cast<uint8_t>(rng());
        s[0] = 0x4E;
        s[1] = static_cast<uint8_t>(0xF0 | (sectionLength >> 8));
        s[2] = static_cast<uint8_t>(sectionLength);
        if (sectionLength > 30 && (i % 3) == 0) {
            // A plausible descriptor loop full of the three tags.
            const uint8_t tags[3] = {0x4D, 0x50, 0xC4};
            for (int at = 26; at + 1 < sectionLength - 1;) {
                s[static_cast<size_t>(at)] = tags[rng() % 3];
                at += 2 + s[static_cast<size_t>(at + 1)];
            }
        }
        if (i & 1) {
            Following(t, s);
        } else {
            Present(t, s);
        }
        ASSERT_LT(std::strlen(t.s().presentText), static_cast<size_t>(kEventTextSize));
        ASSERT_LT(std::strlen(t.s().followingText), static_cast<size_t>(kEventTextSize));
    }
}

// --- The whole road: packets in, text and caption on screen -----------------------------

TEST(EventText, PacketsToTextCaptionAndClock) {
    TestPlugin t;
    t.s().currentService = kService;
    build::StreamBuilder sb;
    auto route = [&t](const Bytes& stream) {
        ASSERT_EQ(RoutePackets(t.s(), stream.data(), static_cast<uint32_t>(stream.size())), 1);
        t.platform.Pump(t.s());
    };
    route(sb.Stream(0x0014, {build::TotSection(kMjd20090401, 0x12, 0x34, 0x56)}));
    route(sb.Stream(0x0011, {build::SdtSection(build::kDefaultTransportStreamId, build::kDefaultNetworkId,
                                                {build::NamedService(kService, Alnum("NAME"))})}));
    EXPECT_EQ(t.platform.windowTitle, Sjis("番組情報（現在）- NAME"));

    const uint8_t start[3] = {0x21, 0x54, 0x00};
    const uint8_t duration[3] = {0x02, 0x10, 0x30};
    route(sb.Stream(0x0012, {PresentSection(RawEvent(start, duration, FullEventDescriptors()))}));
    EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT),
              "21:54:00 - 00:04:30 ('09/04/01) 1080i(16:9) S(jpn)B D(jpn eng)-\r\n" + Sjis("【TITLE】") +
                  "\r\nTEXT");
    EXPECT_EQ(t.platform.Text(IDC_CLOCK), "12:34:57");

    // Following view: the caption and label change at once, and the next
    // following section is shown.
    ViewerCommand(t.s(), IDC_PRESENT_FOLLOWING);
    EXPECT_EQ(t.platform.windowTitle, Sjis("番組情報（次番組）- NAME"));
    EXPECT_EQ(t.platform.Text(IDC_PRESENT_FOLLOWING), Sjis("次"));
    const uint8_t next[3] = {0x00, 0x04, 0x30};
    const uint8_t undetermined[3] = {0xFF, 0xFF, 0xFF};
    // A description of 200 bytes makes this section span two packets.
    route(sb.Stream(0x0012, {FollowingSection(RawEvent(
                                next, undetermined,
                                build::ShortEventDescriptor(Alnum("NEXT"), Alnum(std::string(200, 'd')))))}));
    EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT),
              Sjis("00:04:30 - 未定 ('09/04/01)   \r\n【NEXT】\r\n") + std::string(200, 'd'));
    // A present section now is stored but not shown; the clock still ticks.
    const uint8_t later[3] = {0x00, 0x04, 0x30};
    route(sb.Stream(0x0012, {PresentSection(RawEvent(later, duration))}));
    EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT).substr(0, 8), "00:04:30");
    EXPECT_EQ(std::string(t.s().presentText).substr(0, 19), "00:04:30 - 02:15:00");
    EXPECT_EQ(t.platform.Text(IDC_CLOCK), "12:34:58");

    ViewerCommand(t.s(), IDC_PRESENT_FOLLOWING);
    EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT).substr(0, 19), "00:04:30 - 02:15:00");
    EXPECT_EQ(t.platform.windowTitle, Sjis("番組情報（現在）- NAME"));
}

TEST(EventText, HandlersRunBesideThePacketPath) {
    // The packet path fills the mailboxes on its own thread while the window
    // thread formats, switches views and updates the caption. Run under the
    // thread sanitizer this catches a shared field touched without the lock;
    // in every build the texts must stay whole.
    TestPlugin t;
    t.s().currentService = kService;
    build::StreamBuilder sb;
    std::vector<Bytes> streams;
    const uint8_t duration[3] = {0x00, 0x30, 0x00};
    for (int i = 0; i < 120; ++i) {
        const uint8_t start[3] = {0x20, static_cast<uint8_t>(build::Bcd(i % 60)), 0x00};
        streams.push_back(sb.Stream(0x0012, {PresentSection(RawEvent(start, duration, FullEventDescriptors())),
                                             FollowingSection(RawEvent(start, duration))}));
        streams.push_back(sb.Stream(
            0x0011, {build::SdtSection(build::kDefaultTransportStreamId, build::kDefaultNetworkId,
                                       {build::NamedService(kService, Alnum("N" + std::to_string(i)))},
                                       static_cast<uint8_t>(i % 32))}));
    }
    std::atomic<bool> done(false);
    std::thread packetPath([&] {
        for (const Bytes& stream : streams) {
            RoutePackets(t.s(), stream.data(), static_cast<uint32_t>(stream.size()));
        }
        done = true;
    });
    int round = 0;
    while (!done) {
        t.platform.Pump(t.s());
        if (++round % 5 == 0) ViewerCommand(t.s(), IDC_PRESENT_FOLLOWING);
        std::this_thread::yield();
    }
    packetPath.join();
    t.platform.Pump(t.s());
    std::lock_guard<std::mutex> guard(t.s().lock);
    EXPECT_EQ(std::string(t.s().presentText).substr(0, 11), "20:59:00 - ");
    EXPECT_LT(std::strlen(t.s().followingText), static_cast<size_t>(kEventTextSize));
    EXPECT_EQ(std::string(t.s().serviceName), "N119");
}

}  // namespace
