// The grid's programmes as the guide source gives them: a programme whose
// duration is undetermined is drawn until the next one starts, at most
// three hours, and the present section's programme is marked on air only
// until that end (a present section never replaced, of a service no longer
// received, is not on air for ever).
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "plugin/guide_store.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "tests/support/test_plugin.h"
#include "text/eit_event.h"
#include "tools/streamkit/stream_builder.h"
#include "ui/channel_buttons.h"
#include "ui/guide_source.h"
#include "ui/viewer.h"

namespace {

using build::Bytes;

const uint16_t kMjd = 61382;  // 2026-12-08
const int64_t kNine = (61382LL - 40587) * 86400 + 21 * 3600;  // 21:00 Japan time
const uint16_t kService = 0x0400;

build::EitEvent OpenEnded(uint16_t id) {
    build::EitEvent e = build::Event(kMjd, 21, 0, 0, 0, 0, 0);
    e.eventId = id;
    e.duration[0] = e.duration[1] = e.duration[2] = 0xFF;
    return e;
}

TEST(GuideSourceEnds, AnOpenEndedPresentProgrammeRunsUntilTheNextOneOrThreeHours) {
    build::EitEvent next = build::Event(kMjd, 22, 15, 0, 0, 30, 0);
    next.eventId = 2;
    struct Case {
        const char* name;
        bool following;  // the following section (22:15) came too
        int64_t now;
        int32_t duration;
        bool onAir;
    };
    const Case cases[] = {
        {"alone, two hours in", false, kNine + 2 * 3600, kUndeterminedRunSeconds, true},
        {"alone, three hours on", false, kNine + kUndeterminedRunSeconds, kUndeterminedRunSeconds, false},
        {"alone, months later", false, kNine + 90 * 86400, kUndeterminedRunSeconds, false},
        {"before the following, no clock", true, -1, 75 * 60, true},
        {"before the following starts", true, kNine + 74 * 60, 75 * 60, true},
        {"the following started", true, kNine + 75 * 60, 75 * 60, false},
    };
    for (const Case& c : cases) {
        TestPlugin t;
        PluginOnChannelChange(t.s(), 27, kService);
        std::vector<Bytes> sections = {build::EitPfSection(kService, 0, {OpenEnded(1)})};
        if (c.following) sections.push_back(build::EitPfSection(kService, 1, {next}));
        build::StreamBuilder sb;
        const Bytes packets = sb.Stream(0x0012, sections);
        ViewerStreamData(t.s(), packets.data(), static_cast<uint32_t>(packets.size()));
        t.platform.Pump(t.s());
        TakeGuideSections(t.s());  // present/following alone is not announced while the guide is closed
        std::unique_ptr<GuideColumns> columns(new GuideColumns());
        FillGuideColumns(t.s(), *columns);
        ASSERT_EQ(columns->count, 1) << c.name;
        columns->now = c.now;
        const GridSource source = GuideGridSource(*columns);
        GridProgramme p = {};
        ASSERT_TRUE(source.programme(source.context, 0, 0, p)) << c.name;
        EXPECT_EQ(p.id, 1) << c.name;
        EXPECT_EQ(p.start, kNine) << c.name;
        EXPECT_EQ(p.duration, c.duration) << c.name;
        EXPECT_EQ(p.onAir, c.onAir) << c.name;
    }
}

}  // namespace
