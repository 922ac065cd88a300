// The structured EIT event record: ids, times (determined or not), texts as
// raw ARIB bytes, components, genres, event group and series, and the
// details made from it agreeing with those of the event's own loop.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/unit/text_test_helpers.h"
#include "text/eit_event.h"

namespace {

using build::Bytes;

Bytes A(const char* utf8) {
    bool complete = true;
    Bytes b = EncodeAribFromUtf8(utf8, &complete);
    EXPECT_TRUE(complete) << utf8;
    return b;
}

const uint16_t kMjd20261208 = 61382;

Bytes RichEventDescriptors() {
    build::AudioComponent dual;
    dual.componentType = 0x02;
    dual.flags = 0x80 | 0x40 | 0x10 | (7 << 1);
    dual.language2 = "eng";
    build::Series series;
    series.seriesId = 0x0123;
    series.repeatLabel = 1;
    series.programPattern = 2;
    series.expireDateValid = true;
    series.expireDate = kMjd20261208 + 30;
    series.episodeNumber = 3;
    series.lastEpisodeNumber = 12;
    series.name = A("渡り鳥の空");
    return build::Cat({
        build::ShortEventDescriptor(A("ドラマ"), A("第３話")),
        build::ShortEventDescriptor(A("二つ目"), A("使われない")),
        build::ComponentDescriptor(0x01, 0xB3, 0x00),
        build::AudioComponentDescriptor(dual),
        build::ContentDescriptorOf({0x3000, 0x3012, 0xE0FF}),
        build::ExtendedEventDescriptor(1, 1, {{Bytes(), A("続き")}}),
        build::ExtendedEventDescriptor(0, 1, {{A("出演者"), A("山田花子")}}),
        build::SeriesDescriptor(series),
        build::EventGroupDescriptor(1, {{0, 0, 0x0401, 0x2002}}),
        build::EventGroupDescriptor(4, {}, {{0x7FE1, 0x7FE2, 0x0500, 0x3003}}),
    });
}

Bytes RichSection() {
    build::EitHeader h;
    h.tableId = 0x50;
    h.serviceId = 0x0400;
    h.version = 7;
    h.sectionNumber = 8;
    h.lastSectionNumber = 0x1F;
    h.segmentLastSectionNumber = 8;
    build::EitEvent e = build::Event(kMjd20261208, 22, 0, 0, 0, 45, 0, RichEventDescriptors());
    e.eventId = 0x1002;
    e.freeCaMode = true;
    return build::EitSection(h, {e});
}

TEST(EitEventRecord, ReadsEveryFieldOfARichEvent) {
    const Bytes section = RichSection();
    EitSectionHeader h;
    ASSERT_TRUE(ReadEitSectionHeader(section.data(), static_cast<int32_t>(section.size()), h));
    EXPECT_EQ(h.tableId, 0x50);
    EXPECT_EQ(h.version, 7);
    EXPECT_EQ(h.sectionNumber, 8);
    EXPECT_EQ(h.lastSectionNumber, 0x1F);
    EXPECT_EQ(h.segmentLastSectionNumber, 8);
    EXPECT_EQ(h.lastTableId, 0x50);

    EitEventCursor cursor(section.data(), static_cast<int32_t>(section.size()));
    EitEventEntry entry;
    ASSERT_TRUE(cursor.Next(entry));
    auto record = std::make_unique<EitEventRecord>();
    ReadEitEvent(h, entry, *record);
    EXPECT_FALSE(cursor.Next(entry));

    const EitEventRecord& r = *record;
    EXPECT_EQ(r.originalNetworkId, build::kDefaultNetworkId);
    EXPECT_EQ(r.transportStreamId, build::kDefaultTransportStreamId);
    EXPECT_EQ(r.serviceId, 0x0400);
    EXPECT_EQ(r.eventId, 0x1002);
    ASSERT_TRUE(r.startDetermined);
    // 2026-12-08 22:00 Japan time.
    EXPECT_EQ(r.start, 1796767200);  // as if it were UTC
    ASSERT_TRUE(r.durationDetermined);
    EXPECT_EQ(r.duration, 45 * 60);
    EXPECT_TRUE(r.freeCaMode);
    EXPECT_EQ(r.runningStatus, 4);

    ASSERT_TRUE(r.hasShortEvent);  // the first short event descriptor counts
    EXPECT_EQ(Bytes(r.name, r.name + r.nameSize), A("ドラマ"));
    EXPECT_EQ(Bytes(r.text, r.text + r.textSize), A("第３話"));

    ASSERT_EQ(r.videoCount, 1);
    EXPECT_EQ(r.videos[0].streamContent, 1);
    EXPECT_EQ(r.videos[0].componentType, 0xB3);
    EXPECT_STREQ(r.videos[0].language, "jpn");
    ASSERT_EQ(r.audioCount, 1);
    EXPECT_EQ(r.audios[0].componentType, 0x02);
    EXPECT_TRUE(r.audios[0].multiLingual);
    EXPECT_TRUE(r.audios[0].mainComponent);
    EXPECT_EQ(r.audios[0].quality, 1);
    EXPECT_EQ(r.audios[0].samplingRate, 7);
    EXPECT_STREQ(r.audios[0].language2, "eng");

    ASSERT_EQ(r.genreCount, 3);
    EXPECT_EQ(r.genres[1].level1, 3);
    EXPECT_EQ(r.genres[1].level2, 0);
    EXPECT_EQ(r.genres[1].user1, 1);
    EXPECT_EQ(r.genres[1].user2, 2);
    EXPECT_EQ(r.genres[2].level1, 0xE);

    // Descriptor 0 before 1 whatever the loop order; the continuation joins.
    ASSERT_EQ(r.extended.itemCount, 1);
    EXPECT_EQ(Bytes(r.extended.items[0].text, r.extended.items[0].text + r.extended.items[0].textSize),
              build::Cat({A("山田花子"), A("続き")}));

    ASSERT_TRUE(r.hasSeries);
    EXPECT_EQ(r.series.seriesId, 0x0123);
    EXPECT_EQ(r.series.repeatLabel, 1);
    EXPECT_EQ(r.series.programPattern, 2);
    EXPECT_TRUE(r.series.expireDateValid);
    EXPECT_EQ(r.series.expireDate, kMjd20261208 + 30);
    EXPECT_EQ(r.series.episodeNumber, 3);
    EXPECT_EQ(r.series.lastEpisodeNumber, 12);
    EXPECT_EQ(Bytes(r.series.name, r.series.name + r.series.nameSize), A("渡り鳥の空"));

    ASSERT_EQ(r.relatedCount, 2);
    EXPECT_EQ(r.related[0].groupType, kEventGroupShared);
    EXPECT_FALSE(r.related[0].otherNetwork);
    EXPECT_EQ(r.related[0].serviceId, 0x0401);
    EXPECT_EQ(r.related[0].eventId, 0x2002);
    EXPECT_TRUE(r.related[1].otherNetwork);
    EXPECT_EQ(r.related[1].originalNetworkId, 0x7FE1);
    EXPECT_EQ(r.related[1].transportStreamId, 0x7FE2);
    EXPECT_EQ(r.related[1].eventId, 0x3003);
}

TEST(EitEventRecord, DetailsAreThoseOfTheEventsOwnLoop) {
    const Bytes section = RichSection();
    EitSectionHeader h;
    ASSERT_TRUE(ReadEitSectionHeader(section.data(), static_cast<int32_t>(section.size()), h));
    EitEventEntry entry;
    ASSERT_TRUE(ReadEitEventAt(section.data(), static_cast<int32_t>(section.size()), kEitSectionHeaderSize, entry));
    auto record = std::make_unique<EitEventRecord>();
    ReadEitEvent(h, entry, *record);
    auto fromRecord = std::make_unique<EventDetails>();
    auto fromLoop = std::make_unique<EventDetails>();
    for (SymbolStyle style : {SymbolStyle::kUserDefined, SymbolStyle::kBracketed}) {
        EitEventDetails(*record, style, *fromRecord);
        ReadEventDetails(entry.descriptors, entry.descriptorsLength, style, *fromLoop);
        EXPECT_EQ(std::memcmp(fromRecord.get(), fromLoop.get(), sizeof(EventDetails)), 0);
    }
    EXPECT_EQ(fromLoop->genreCount, 2);  // the extension entry shows as 拡張; the user nibbles make no line
}

struct TimeCase {
    const char* name;
    uint8_t start[5];
    uint8_t duration[3];
    bool startDetermined;
    int64_t start1970;  // Japan seconds
    bool durationDetermined;
    int32_t seconds;
};

TEST(EitEventRecord, StartAndDurationUndeterminedOrNot) {
    const TimeCase cases[] = {
        {"ordinary", {0xEF, 0xC6, 0x22, 0x00, 0x00}, {0x00, 0x45, 0x00}, true, 1796767200, true, 2700},
        {"all ones", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF}, false, 0, false, 0},
        {"BCD time ones only", {0xEF, 0xC6, 0xFF, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF}, false, 0, false, 0},
        {"hour 24", {0xEF, 0xC6, 0x24, 0x00, 0x00}, {0x99, 0x59, 0x59}, false, 0, true, 99 * 3600 + 59 * 60 + 59},
        {"minute 60", {0xEF, 0xC6, 0x23, 0x60, 0x00}, {0x00, 0x60, 0x00}, false, 0, false, 0},
        {"hex digit", {0xEF, 0xC6, 0x2A, 0x00, 0x00}, {0x0A, 0x00, 0x00}, false, 0, false, 0},
        {"MJD 0", {0x00, 0x00, 0x00, 0x00, 0x01}, {0x00, 0x00, 0x00}, true, -40587LL * 86400 + 1, true, 0},
    };
    for (const TimeCase& c : cases) {
        int64_t start = -1;
        int32_t duration = -1;
        EXPECT_EQ(DecodeEitStart(c.start, start), c.startDetermined) << c.name;
        EXPECT_EQ(start, c.startDetermined ? c.start1970 : 0) << c.name;
        EXPECT_EQ(DecodeEitDuration(c.duration, duration), c.durationDetermined) << c.name;
        EXPECT_EQ(duration, c.seconds) << c.name;
    }
}

TEST(EitEventRecord, DamagedSectionsReadSafely) {
    Bytes section = RichSection();
    EitSectionHeader h;
    // Not an EIT; a header cut short; section_length past the bytes.
    Bytes sdt = section;
    sdt[0] = 0x42;
    EXPECT_FALSE(ReadEitSectionHeader(sdt.data(), static_cast<int32_t>(sdt.size()), h));
    EXPECT_FALSE(ReadEitSectionHeader(section.data(), 12, h));
    EXPECT_FALSE(ReadEitSectionHeader(section.data(), static_cast<int32_t>(section.size()) - 1, h));

    // A descriptors_loop_length past the section: cut at the CRC_32, one event.
    Bytes overrun = section;
    overrun[kEitSectionHeaderSize + 10] |= 0x0F;
    overrun[kEitSectionHeaderSize + 11] = 0xFF;
    ASSERT_TRUE(ReadEitSectionHeader(overrun.data(), static_cast<int32_t>(overrun.size()), h));
    EitEventCursor cursor(overrun.data(), static_cast<int32_t>(overrun.size()));
    EitEventEntry entry;
    ASSERT_TRUE(cursor.Next(entry));
    EXPECT_EQ(entry.descriptors + entry.descriptorsLength, overrun.data() + overrun.size() - 4);
    EXPECT_FALSE(cursor.Next(entry));
    auto record = std::make_unique<EitEventRecord>();
    ReadEitEvent(h, entry, *record);
    EXPECT_TRUE(record->hasShortEvent);

    // Every cut of the section: the walk never reads past what is given.
    for (size_t cut = 0; cut <= section.size(); ++cut) {
        // Exactly `cut` bytes, so that the sanitizers see a read past them.
        std::unique_ptr<uint8_t[]> copy(new uint8_t[cut]);
        std::memcpy(copy.get(), section.data(), cut);
        EitEventCursor c(copy.get(), static_cast<int32_t>(cut));
        while (c.Next(entry)) ReadEitEvent(h, entry, *record);
    }
    // An event offset inside the header or past the end.
    EXPECT_FALSE(ReadEitEventAt(section.data(), static_cast<int32_t>(section.size()), 3, entry));
    EXPECT_FALSE(ReadEitEventAt(section.data(), static_cast<int32_t>(section.size()),
                                static_cast<int32_t>(section.size()), entry));
}

// A programme's end: its duration when determined; an undetermined one runs
// until the next programme starts, at most three hours.
TEST(EitProgrammeEnd, UndeterminedDurationRunsUntilTheNextProgrammeAtMostTheCap) {
    const int64_t t = 1796767200;  // 2026-12-08 22:00 Japan time
    struct Case {
        const char* name;
        bool durationDetermined;
        int32_t duration;
        bool hasNext;
        int64_t nextStart;
        int64_t end;
    };
    const Case cases[] = {
        {"determined, the next ignored", true, 2700, true, t + 600, t + 2700},
        {"determined zero", true, 0, false, 0, t},
        {"undetermined, next in 90 minutes", false, 0, true, t + 5400, t + 5400},
        {"undetermined, no next: the cap", false, 0, false, 0, t + kUndeterminedRunSeconds},
        {"undetermined, next past the cap", false, 0, true, t + 5 * 3600, t + kUndeterminedRunSeconds},
        {"undetermined, next at the same second is none", false, 0, true, t, t + kUndeterminedRunSeconds},
        {"undetermined, next before it is none", false, 0, true, t - 60, t + kUndeterminedRunSeconds},
    };
    EXPECT_EQ(kUndeterminedRunSeconds, 3 * 3600);
    for (const Case& c : cases) {
        EXPECT_EQ(EitProgrammeEnd(t, c.durationDetermined, c.duration, c.hasNext, c.nextStart), c.end) << c.name;
    }
}

// A section's programmes all ended: the cache leaves such a section out. A
// present section of undetermined duration ends three hours after its start
// (it is never replaced once its service is no longer received); in a
// schedule section the next event bounds it; an undetermined start is
// never ended.
TEST(EitProgrammeEnd, SectionEndedTimesUndeterminedDurations) {
    const int64_t day = (kMjd20261208 - 40587LL) * 86400;
    const auto event = [](uint16_t id, int hour, int minute, bool openEnded) {
        build::EitEvent e = build::Event(kMjd20261208, hour, minute, 0, 0, 30, 0);
        e.eventId = id;
        if (openEnded) e.duration[0] = e.duration[1] = e.duration[2] = 0xFF;
        return e;
    };
    build::EitEvent undeterminedStart = event(5, 21, 0, false);
    undeterminedStart.startMjd = 0xFFFF;
    undeterminedStart.start[0] = undeterminedStart.start[1] = undeterminedStart.start[2] = 0xFF;
    const Bytes present = build::EitPfSection(0x0400, 0, {event(1, 21, 0, true)});
    // 21:00 open-ended, then 22:00 for 30 minutes, listed out of start order.
    build::EitHeader h = build::ScheduleHeader(0x0400, 0);
    const Bytes schedule = build::EitSection(h, {event(3, 22, 0, false), event(2, 21, 0, true)});
    const Bytes alone = build::EitSection(h, {event(2, 21, 0, true)});
    const Bytes noStart = build::EitPfSection(0x0400, 0, {undeterminedStart});
    const Bytes empty = build::EitSection(h, {});
    struct Case {
        const char* name;
        const Bytes* section;
        int64_t now;
        bool ended;
    };
    const Case cases[] = {
        {"present, open-ended, an hour in", &present, day + 22 * 3600, false},
        {"present, open-ended, a second before the cap", &present, day + 24 * 3600 - 1, false},
        {"present, open-ended, at the cap", &present, day + 24 * 3600, true},
        {"present, open-ended, months later", &present, day + 90 * 86400, true},
        {"schedule, the last one still on", &schedule, day + 22 * 3600 + 1799, false},
        {"schedule, all ended: the open-ended one at the next one's start", &schedule, day + 22 * 3600 + 1800, true},
        {"schedule, the open-ended one alone runs on", &alone, day + 22 * 3600 + 1800, false},
        {"undetermined start", &noStart, day + 90 * 86400, false},
        {"no event", &empty, day + 90 * 86400, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EitSectionEnded(c.section->data(), static_cast<int32_t>(c.section->size()), c.now), c.ended)
            << c.name;
    }
}

}  // namespace
