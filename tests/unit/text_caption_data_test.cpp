// ARIB caption data groups, management and statement data, data units, and
// how the decoder follows groups A and B, versions and languages.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "text/caption_data.h"
#include "text/caption_decoder.h"
#include "tools/streamkit/arib_encoder.h"
#include "tools/streamkit/caption_builder.h"

namespace {

using build::Bytes;

Bytes Statement(const char* utf8) { return build::StatementData({build::StatementBody(EncodeAribFromUtf8(utf8))}); }

TEST(ParseDataGroup, StatusAndFields) {
    struct Case {
        const char* name;
        Bytes bytes;
        DataGroupStatus status;
        CaptionGroup group;
        int32_t language;
    };
    const Bytes statement = build::DataGroup(0x21, 2, Statement("あ"));
    Bytes badCrc = statement;
    badCrc[6] ^= 0x01;
    Bytes longer = statement;
    longer[4] = static_cast<uint8_t>(longer[4] + 1);  // data_group_size one past the data
    const Case cases[] = {
        {"management A", build::DataGroup(0x00, 0, build::ManagementData({"jpn"})), DataGroupStatus::kOk,
         CaptionGroup::kA, 0},
        {"statement B", statement, DataGroupStatus::kOk, CaptionGroup::kB, 1},
        {"second language A", build::DataGroup(0x02, 0, Statement("あ")), DataGroupStatus::kOk, CaptionGroup::kA, 2},
        {"id outside both groups", build::DataGroup(0x10, 0, Statement("あ")), DataGroupStatus::kOk,
         CaptionGroup::kNone, 0},
        {"language 8 A", build::DataGroup(0x08, 0, Statement("あ")), DataGroupStatus::kOk, CaptionGroup::kA, 8},
        {"language 8 B", build::DataGroup(0x28, 2, Statement("あ")), DataGroupStatus::kOk, CaptionGroup::kB, 8},
        {"id 0x09", build::DataGroup(0x09, 0, Statement("あ")), DataGroupStatus::kOk, CaptionGroup::kNone, 0},
        {"id 0x29", build::DataGroup(0x29, 0, Statement("あ")), DataGroupStatus::kOk, CaptionGroup::kNone, 0},
        {"bytes behind the CRC", [&] { Bytes b = statement; b.push_back(0xEE); return b; }(), DataGroupStatus::kOk,
         CaptionGroup::kB, 1},
        {"bad CRC", badCrc, DataGroupStatus::kBadCrc, CaptionGroup::kNone, 0},
        {"size past the end", longer, DataGroupStatus::kLengthPastEnd, CaptionGroup::kNone, 0},
        {"CRC cut", Bytes(statement.begin(), statement.end() - 1), DataGroupStatus::kLengthPastEnd,
         CaptionGroup::kNone, 0},
        {"header only", Bytes(statement.begin(), statement.begin() + 5), DataGroupStatus::kTooShort,
         CaptionGroup::kNone, 0},
        {"empty", Bytes(), DataGroupStatus::kTooShort, CaptionGroup::kNone, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DataGroup g;
        EXPECT_EQ(ParseDataGroup(c.bytes.data(), static_cast<int32_t>(c.bytes.size()), &g), c.status);
        EXPECT_EQ(g.group, c.group);
        EXPECT_EQ(g.language, c.language);
        if (c.status == DataGroupStatus::kOk && c.group == CaptionGroup::kB) {
            EXPECT_EQ(g.version, 2);
        }
    }
}

TEST(ParseCaptionManagement, LanguagesTimeModeAndUnits) {
    // TMD 2 with OTM, two languages, the first with a display condition.
    const Bytes data = {0xBF, 0x01, 0x23, 0x45, 0x67, 0x8F,  // TMD 2, OTM
                        0x02,                                // two languages
                        0x0C, 0x05, 'j', 'p', 'n', 0x80,     // tag 0, DMF 0b1100, DC, format 8
                        0x2A, 'e', 'n', 'g', 0x41,           // tag 1, DMF 0b1010, format 4, rollup 1
                        0x00, 0x00, 0x05, 0x1F, 0x20, 0x00, 0x00, 0x00};
    CaptionManagement m;
    ASSERT_TRUE(ParseCaptionManagement(data.data(), static_cast<int32_t>(data.size()), &m));
    EXPECT_EQ(m.timeControlMode, 2);
    EXPECT_EQ(m.offsetTime, 0x012345678u);
    ASSERT_EQ(m.languageCount, 2);
    EXPECT_STREQ(m.languages[0].iso639, "jpn");
    EXPECT_EQ(m.languages[0].displayMode, 0x0C);
    EXPECT_EQ(m.languages[0].displayCondition, 0x05);
    EXPECT_EQ(m.languages[0].format, 8);
    EXPECT_STREQ(m.languages[1].iso639, "eng");
    EXPECT_EQ(m.languages[1].languageTag, 1);
    EXPECT_EQ(m.languages[1].rollupMode, 1);
    EXPECT_EQ(m.dataUnitsSize, 5);

    // Cut anywhere: refused, nothing read past the end.
    for (size_t n = 0; n < data.size(); ++n) {
        EXPECT_FALSE(ParseCaptionManagement(data.data(), static_cast<int32_t>(n), &m)) << n;
    }

    // An offset of ten hours or more keeps its first digit (nine digits
    // are 36 bits).
    const Bytes late = {0xBF, 0x12, 0x34, 0x56, 0x78, 0x9F, 0x00, 0x00, 0x00, 0x00};
    ASSERT_TRUE(ParseCaptionManagement(late.data(), static_cast<int32_t>(late.size()), &m));
    EXPECT_EQ(m.offsetTime, 0x123456789ull);
}

TEST(ParseCaptionStatement, TimeModesAndLoopLength) {
    const Bytes free = build::StatementData({build::StatementBody({0x21})});
    CaptionStatement s;
    ASSERT_TRUE(ParseCaptionStatement(free.data(), static_cast<int32_t>(free.size()), &s));
    EXPECT_EQ(s.timeControlMode, 0);
    EXPECT_EQ(s.dataUnitsSize, 6);

    const Bytes realTime = {0x7F, 0x12, 0x34, 0x56, 0x78, 0x9F, 0x00, 0x00, 0x00};
    ASSERT_TRUE(ParseCaptionStatement(realTime.data(), static_cast<int32_t>(realTime.size()), &s));
    EXPECT_EQ(s.timeControlMode, 1);
    EXPECT_EQ(s.presentationTime, 0x123456789ull);

    Bytes pastEnd = free;
    pastEnd[3] = static_cast<uint8_t>(pastEnd[3] + 1);
    EXPECT_FALSE(ParseCaptionStatement(pastEnd.data(), static_cast<int32_t>(pastEnd.size()), &s));
}

TEST(NextDataUnit, WalksCutsAndStops) {
    Bytes loop = build::CaptionDataUnit(0x20, {1, 2, 3});
    const Bytes drcs = build::CaptionDataUnit(0x30, {4});
    loop.insert(loop.end(), drcs.begin(), drcs.end());
    Bytes cut = build::CaptionDataUnit(0x20, {5, 6, 7, 8});
    cut.resize(cut.size() - 2);  // data_unit_size past the loop
    loop.insert(loop.end(), cut.begin(), cut.end());

    int32_t offset = 0;
    DataUnit u;
    ASSERT_TRUE(NextDataUnit(loop.data(), static_cast<int32_t>(loop.size()), &offset, &u));
    EXPECT_EQ(u.parameter, 0x20);
    EXPECT_EQ(Bytes(u.data, u.data + u.size), Bytes({1, 2, 3}));
    ASSERT_TRUE(NextDataUnit(loop.data(), static_cast<int32_t>(loop.size()), &offset, &u));
    EXPECT_EQ(u.parameter, 0x30);
    ASSERT_TRUE(NextDataUnit(loop.data(), static_cast<int32_t>(loop.size()), &offset, &u));
    EXPECT_TRUE(u.cut);
    EXPECT_EQ(u.size, 2);
    EXPECT_FALSE(NextDataUnit(loop.data(), static_cast<int32_t>(loop.size()), &offset, &u));

    const Bytes noSeparator = {0x1E, 0x20, 0, 0, 1, 0x21};
    offset = 0;
    EXPECT_FALSE(NextDataUnit(noSeparator.data(), static_cast<int32_t>(noSeparator.size()), &offset, &u));
    const Bytes headerCut = {0x1F, 0x20, 0};
    offset = 0;
    EXPECT_FALSE(NextDataUnit(headerCut.data(), static_cast<int32_t>(headerCut.size()), &offset, &u));
}

// The text of the decoder's screen, as UTF-8.
std::string ScreenText(const CaptionDecoder& d) {
    char buffer[2048];
    FormatCaptionText(d.screen, false, buffer, sizeof buffer);
    return ShiftJisToUtf8(buffer);
}

struct Step {
    uint8_t id;
    uint8_t version;
    const char* text;  // null: management data
    CaptionGroupResult result;
    const char* screen;  // the text afterwards
};

TEST(CaptionDecoderGroups, FollowsTheGroupOfTheLatestManagementData) {
    const auto kStmt = CaptionGroupResult::kStatement;
    const auto kMgmt = CaptionGroupResult::kManagement;
    struct Case {
        const char* name;
        int32_t language;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"group A", 0, {{0x00, 0, nullptr, kMgmt, ""}, {0x01, 0, "あ", kStmt, "あ"}}},
        {"statement of the other group", 0,
         {{0x00, 0, nullptr, kMgmt, ""}, {0x21, 0, "い", CaptionGroupResult::kOtherGroup, ""}}},
        {"switch to B and back", 0,
         {{0x00, 0, nullptr, kMgmt, ""}, {0x01, 0, "あ", kStmt, "あ"}, {0x20, 0, nullptr, kMgmt, "あ"},
          {0x01, 0, "い", CaptionGroupResult::kOtherGroup, "あ"}, {0x21, 0, "う", kStmt, "あう"},
          {0x00, 0, nullptr, kMgmt, "あう"}, {0x21, 0, "え", CaptionGroupResult::kOtherGroup, "あう"}}},
        {"statements before any management data", 0,
         {{0x21, 0, "あ", kStmt, "あ"}, {0x01, 0, "い", CaptionGroupResult::kOtherGroup, "あ"}}},
        {"version repeat and change", 0,
         {{0x00, 1, nullptr, kMgmt, ""}, {0x00, 1, nullptr, CaptionGroupResult::kRepeat, ""},
          {0x00, 2, nullptr, kMgmt, ""}, {0x00, 2, nullptr, CaptionGroupResult::kRepeat, ""}}},
        {"statements with one version are all shown", 0,
         {{0x01, 0, "あ", kStmt, "あ"}, {0x01, 0, "い", kStmt, "あい"}}},
        {"second language not chosen", 0,
         {{0x00, 0, nullptr, kMgmt, ""}, {0x02, 0, "あ", CaptionGroupResult::kOtherLanguage, ""}}},
        {"second language chosen", 1,
         {{0x00, 0, nullptr, kMgmt, ""}, {0x01, 0, "あ", CaptionGroupResult::kOtherLanguage, ""},
          {0x02, 0, "い", kStmt, "い"}}},
        {"unknown data_group_id", 0, {{0x10, 0, "あ", CaptionGroupResult::kNotCaption, ""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<CaptionDecoder> d(new CaptionDecoder);
        ResetCaptionDecoder(*d, CaptionDecoderOptions{c.language, CaptionProfile::kA});
        for (const Step& s : c.steps) {
            const Bytes data = s.text == nullptr ? build::ManagementData({"jpn", "eng"}) : Statement(s.text);
            const Bytes g = build::DataGroup(s.id, s.version, data);
            EXPECT_EQ(DecodeCaptionDataGroup(*d, g.data(), static_cast<int32_t>(g.size()), nullptr), s.result)
                << std::hex << int(s.id);
            EXPECT_EQ(ScreenText(*d), s.screen);
        }
    }
}

TEST(CaptionDecoderGroups, BadDataGroupsChangeNothing) {
    std::unique_ptr<CaptionDecoder> d(new CaptionDecoder);
    ResetCaptionDecoder(*d, CaptionDecoderOptions{0, CaptionProfile::kA});
    const Bytes good = build::DataGroup(0x01, 0, Statement("あ"));
    ASSERT_EQ(DecodeCaptionDataGroup(*d, good.data(), static_cast<int32_t>(good.size()), nullptr),
              CaptionGroupResult::kStatement);
    const Bytes other = build::DataGroup(0x01, 0, build::StatementData({build::StatementBody({0x0C, 0xA4, 0xA4})}));
    for (size_t cut = 0; cut < other.size(); ++cut) {
        EXPECT_EQ(DecodeCaptionDataGroup(*d, other.data(), static_cast<int32_t>(cut), nullptr),
                  CaptionGroupResult::kBadDataGroup);
    }
    for (size_t i = 0; i < other.size(); ++i) {
        Bytes spoilt = other;
        spoilt[i] ^= 0x10;
        EXPECT_EQ(DecodeCaptionDataGroup(*d, spoilt.data(), static_cast<int32_t>(spoilt.size()), nullptr),
                  CaptionGroupResult::kBadDataGroup)
            << i;
    }
    EXPECT_EQ(ScreenText(*d), "あ");
    EXPECT_EQ(d->counts.badDataGroups, static_cast<int32_t>(2 * other.size()));
    EXPECT_EQ(DecodeCaptionDataGroup(*d, other.data(), static_cast<int32_t>(other.size()), nullptr),
              CaptionGroupResult::kStatement);
    EXPECT_EQ(ScreenText(*d), "いい");
}

TEST(CaptionDecoderGroups, PesPayloadWithoutTheCaptionLayoutIsNotCaption) {
    std::unique_ptr<CaptionDecoder> d(new CaptionDecoder);
    ResetCaptionDecoder(*d, CaptionDecoderOptions{0, CaptionProfile::kA});
    Bytes payload = build::CaptionPesPayload(build::DataGroup(0x01, 0, Statement("あ")));
    EXPECT_EQ(DecodeCaptionPesPayload(*d, payload.data(), static_cast<int32_t>(payload.size()), nullptr),
              CaptionGroupResult::kStatement);
    payload[0] = 0x82;
    EXPECT_EQ(DecodeCaptionPesPayload(*d, payload.data(), static_cast<int32_t>(payload.size()), nullptr),
              CaptionGroupResult::kNotCaption);
}

}  // namespace
