// A PUSI packet ends the section in progress: the bytes before its pointer
// complete it or it is dropped, and the section at the pointer starts. A
// damaged section_length therefore costs one section, never the table: the
// next version of a PAT, PMT or SDT sent one section to a packet is seen.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "plugin/messages.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "plugin/router.h"
#include "tests/support/test_plugin.h"
#include "tools/streamkit/stream_builder.h"
#include "ts/caption_stream.h"
#include "ts/packet.h"
#include "ts/section.h"
#include "ts/schedule_assembler.h"
#include "ts/section_assembler.h"
#include "ts/section_stream.h"
#include "ui/channel_buttons.h"
#include "ui/viewer.h"

namespace {

using build::Bytes;

const uint16_t kService = 0x0408;
const uint16_t kPid = 0x0011;

// --- The assemblers alone ----------------------------------------------------------

// A section of `size` bytes: an SDT-like table section, or an EIT p/f
// section 0 of kService (at least 30 bytes).
enum class Kind { kTable, kEvent };

Bytes SectionOf(Kind kind, size_t size, uint8_t fill) {
    if (kind == Kind::kEvent) {
        build::EitEvent e = build::Event(0xE4C1, 21, 0, 0, 0, 54, 0);
        e.descriptors = Bytes(size - 30, fill);
        return build::EitPfSection(kService, 0, {e}, static_cast<uint8_t>(fill & 0x1F));
    }
    Bytes s(size - 4, fill);
    s[0] = kSdtActualTableId;
    s[1] = 0xB0;
    return build::Seal(s);
}

// The section's first `n` bytes: a section that claims more than was sent.
Bytes Cut(const Bytes& section, size_t n) { return Bytes(section.begin(), section.begin() + static_cast<long>(n)); }
Bytes Part(const Bytes& b, size_t from, size_t to) {
    return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to));
}

// A PUSI packet: `tail` (the end of the section before) behind the
// pointer_field, then `sections`; 0xFF up to the end.
Bytes Pusi(uint8_t counter, const Bytes& tail, const Bytes& sections) {
    return build::MakePacket(kPid, true, counter,
                             build::Cat({Bytes(1, static_cast<uint8_t>(tail.size())), tail, sections}));
}
Bytes Plain(uint8_t counter, const Bytes& payload) { return build::MakePacket(kPid, false, counter, payload); }

struct Delivery {
    size_t packet;  // index of the packet after which it was reported
    Bytes section;
};
bool operator==(const Delivery& a, const Delivery& b) { return a.packet == b.packet && a.section == b.section; }
void PrintTo(const Delivery& d, std::ostream* os) { *os << "{packet " << d.packet << ", " << d.section.size() << " bytes}"; }

struct Delivered {
    size_t packet;
    std::vector<Delivery>* out;
};

void Record(void* context, const uint8_t* section, int32_t size) {
    Delivered& d = *static_cast<Delivered*>(context);
    d.out->push_back({d.packet, Bytes(section, section + size)});
}

std::vector<Delivery> Assemble(Kind kind, const std::vector<Bytes>& packets) {
    std::unique_ptr<SectionAssembler> a(new SectionAssembler);
    ResetSectionAssembler(*a);
    const SectionFilter f =
        kind == Kind::kEvent ? EventSectionFilter(kService, 1) : TableSectionFilter(kSdtActualTableId, 9);
    std::vector<Delivery> out;
    for (size_t i = 0; i < packets.size(); ++i) {
        Delivered d = {i, &out};
        AssembleSections(*a, f, packets[i].data(), Record, &d);
    }
    return out;
}

struct ResyncCase {
    const char* name;
    std::function<std::vector<Bytes>(Kind, std::vector<Delivery>&)> build;
};

const ResyncCase kResyncCases[] = {
    {"ClaimsMoreThanItHasNextStartsAtPointerZero",
     [](Kind k, std::vector<Delivery>& expected) {
         const Bytes shortOne = Cut(SectionOf(k, 300, 1), 100);
         const Bytes next = SectionOf(k, 60, 2);
         expected = {{1, next}};
         return std::vector<Bytes>{Pusi(0, {}, shortOne), Pusi(1, {}, next)};
     }},
    {"ClaimsMoreThanItHasItsTailBeforeThePointerDoesNotCompleteIt",
     [](Kind k, std::vector<Delivery>& expected) {
         const Bytes shortOne = Cut(SectionOf(k, 300, 1), 203);
         const Bytes next = SectionOf(k, 60, 2);
         expected = {{1, next}};
         return std::vector<Bytes>{Pusi(0, {}, Part(shortOne, 0, 183)), Pusi(1, Part(shortOne, 183, 203), next)};
     }},
    {"OneSectionPacketsStayOneSectionPacketsAfterADamagedOne",
     [](Kind k, std::vector<Delivery>& expected) {
         Bytes damaged = SectionOf(k, 100, 1);
         damaged[1] = static_cast<uint8_t>(damaged[1] | 0x0F);  // section_length 3900 and more
         const Bytes v2 = SectionOf(k, 100, 2);
         const Bytes v3 = SectionOf(k, 100, 3);
         expected = {{1, v2}, {3, v3}};
         return std::vector<Bytes>{Pusi(0, {}, damaged), Pusi(1, {}, v2), Pusi(2, {}, damaged), Pusi(3, {}, v3)};
     }},
    {"TailCompletesTheSectionAndTheNextStartsAtThePointer",
     [](Kind k, std::vector<Delivery>& expected) {
         const Bytes first = SectionOf(k, 250, 1);
         const Bytes next = SectionOf(k, 200, 2);
         expected = {{1, first}, {2, next}};
         return std::vector<Bytes>{Pusi(0, {}, Part(first, 0, 183)), Pusi(1, Part(first, 183, 250), next),
                                   Plain(2, Part(next, 116, 200))};
     }},
    {"ANextSectionWholeInThatPacketIsHandedOverWithIt",
     [](Kind k, std::vector<Delivery>& expected) {
         const Bytes first = SectionOf(k, 250, 1);
         const Bytes next = SectionOf(k, 60, 2);
         const Bytes third = SectionOf(k, 70, 3);
         expected = {{1, first}, {1, next}, {2, third}};
         return std::vector<Bytes>{Pusi(0, {}, Part(first, 0, 183)), Pusi(1, Part(first, 183, 250), next),
                                   Pusi(2, {}, third), Plain(3, {})};
     }},
    {"ABreakAtThePusiPacketDropsTheSectionAndStartsTheNext",
     [](Kind k, std::vector<Delivery>& expected) {
         const Bytes first = SectionOf(k, 250, 1);
         const Bytes next = SectionOf(k, 60, 2);
         expected = {{1, next}};
         return std::vector<Bytes>{Pusi(0, {}, Part(first, 0, 183)), Pusi(5, Part(first, 183, 250), next)};
     }},
    {"AnotherTableAtThePointerStillLetsTheTailComplete",
     [](Kind k, std::vector<Delivery>& expected) {
         const Bytes first = SectionOf(k, 250, 1);
         Bytes other = SectionOf(Kind::kTable, 60, 2);
         other[0] = 0x50;
         expected = {{1, first}};
         return std::vector<Bytes>{Pusi(0, {}, Part(first, 0, 183)), Pusi(1, Part(first, 183, 250), other)};
     }},
    {"APointerOutsideThePacketDropsTheSectionInProgress",
     [](Kind k, std::vector<Delivery>& expected) {
         const Bytes first = SectionOf(k, 250, 1);
         Bytes bad = Pusi(1, {}, Part(first, 183, 250));
         bad[4] = 200;
         const Bytes next = SectionOf(k, 60, 2);
         expected = {{3, next}};
         return std::vector<Bytes>{Pusi(0, {}, Part(first, 0, 183)), bad, Plain(2, Part(first, 183, 250)),
                                   Pusi(3, {}, next)};
     }},
    // Every section boundary of the packet is followed: a wanted section
    // is found behind another table's, and two in one packet are both
    // handed over.
    {"BehindAnotherTablesSection",
     [](Kind k, std::vector<Delivery>& expected) {
         Bytes other = SectionOf(Kind::kTable, 40, 9);
         other[0] = 0x4A;
         const Bytes wanted = SectionOf(k, 60, 2);
         expected = {{0, wanted}};
         return std::vector<Bytes>{Pusi(0, {}, build::Cat({other, wanted}))};
     }},
    {"TwoInOnePacket",
     [](Kind k, std::vector<Delivery>& expected) {
         const Bytes first = SectionOf(k, 60, 1);
         const Bytes second = SectionOf(k, 70, 2);
         expected = {{0, first}, {0, second}};
         return std::vector<Bytes>{Pusi(0, {}, build::Cat({first, second}))};
     }},
    // A packet sent twice (the same continuity_counter) is taken once.
    {"ARepeatedPacketIsTakenOnce",
     [](Kind k, std::vector<Delivery>& expected) {
         const Bytes first = SectionOf(k, 400, 1);
         expected = {{3, first}};
         const Bytes middle = Plain(1, Part(first, 183, 367));
         return std::vector<Bytes>{Pusi(0, {}, Part(first, 0, 183)), middle, middle, Plain(2, Part(first, 367, 400))};
     }},
    // A packet flagged damaged (transport_error_indicator) or without the
    // sync byte is not taken: the section it belongs to is not handed over,
    // the next one is.
    {"ADamagedPacketCostsItsSection",
     [](Kind k, std::vector<Delivery>& expected) {
         const Bytes first = SectionOf(k, 250, 1);
         const Bytes next = SectionOf(k, 60, 2);
         Bytes damaged = Plain(1, Part(first, 183, 250));
         damaged[1] = static_cast<uint8_t>(damaged[1] | 0x80);
         Bytes noSync = Plain(1, Part(first, 183, 250));
         noSync[0] = 0x00;
         expected = {{4, next}};
         return std::vector<Bytes>{Pusi(0, {}, Part(first, 0, 183)), damaged, noSync, Plain(2, {}),
                                   Pusi(3, {}, next)};
     }},
};

class SectionResync : public ::testing::TestWithParam<std::pair<Kind, size_t>> {};

TEST_P(SectionResync, DeliversWholeSectionsOnly) {
    const Kind kind = GetParam().first;
    const ResyncCase& c = kResyncCases[GetParam().second];
    std::vector<Delivery> expected;
    const std::vector<Bytes> packets = c.build(kind, expected);
    EXPECT_EQ(Assemble(kind, packets), expected);
}

std::vector<std::pair<Kind, size_t>> AllCases() {
    std::vector<std::pair<Kind, size_t>> all;
    for (Kind k : {Kind::kTable, Kind::kEvent}) {
        for (size_t i = 0; i < sizeof kResyncCases / sizeof kResyncCases[0]; ++i) all.push_back({k, i});
    }
    return all;
}

INSTANTIATE_TEST_SUITE_P(Cases, SectionResync, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<std::pair<Kind, size_t>>& param) {
                             return std::string(param.param.first == Kind::kTable ? "Table_" : "Event_") +
                                    kResyncCases[param.param.second].name;
                         });

// A section dropped by its owner (a service change, another PID) is not
// completed by the packets that follow it; the next section that begins is
// taken, even from a packet with the continuity_counter seen last (another
// PID's, not a repeat).
TEST(SectionResync, ResetDropsTheSectionInProgressAndTheCounter) {
    const Bytes first = SectionOf(Kind::kTable, 250, 1);
    const Bytes next = SectionOf(Kind::kTable, 60, 2);
    const SectionFilter f = TableSectionFilter(kSdtActualTableId, 9);
    struct Case {
        const char* name;
        std::vector<Bytes> after;  // the packets after the reset
    } cases[] = {
        {"the tail, then the next section", {Plain(1, Part(first, 183, 250)), Pusi(2, {}, next)}},
        {"the same counter again", {Pusi(0, {}, next)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<SectionAssembler> a(new SectionAssembler);
        ResetSectionAssembler(*a);
        std::vector<Delivery> out;
        Delivered d = {0, &out};
        EXPECT_EQ(AssembleSections(*a, f, Pusi(0, {}, Part(first, 0, 183)).data(), Record, &d), 0);
        EXPECT_TRUE(SectionInProgress(*a));
        ResetSectionAssembler(*a);
        EXPECT_FALSE(SectionInProgress(*a));
        for (const Bytes& p : c.after) AssembleSections(*a, f, p.data(), Record, &d);
        EXPECT_EQ(out, (std::vector<Delivery>{{0, next}}));
    }
}

// The followers of every section of a PID (the plug-in's schedule, the
// tool's stream) end a section at a PUSI packet the same way.
Bytes ScheduleSectionOf(size_t size, uint8_t fill) {
    Bytes s(size - 4, fill);
    s[0] = 0x50;
    s[1] = 0xB0;
    s[3] = static_cast<uint8_t>(kService >> 8);
    s[4] = static_cast<uint8_t>(kService & 0xFF);
    s[5] = static_cast<uint8_t>(0xC1 | ((fill & 0x1F) << 1));
    s[6] = fill;
    return build::Seal(s);
}

void Collect(void* context, const uint8_t* section, int32_t size) {
    static_cast<std::vector<Bytes>*>(context)->push_back(Bytes(section, section + size));
}

std::vector<Bytes> FollowSchedule(const std::vector<Bytes>& packets) {
    std::unique_ptr<ScheduleAssembler> a(new ScheduleAssembler);
    ResetScheduleAssembler(*a);
    ScheduleFilter f = {0x50, 0x5F, kService, nullptr, nullptr};
    std::vector<Bytes> out;
    for (const Bytes& p : packets) AssembleScheduleSections(*a, f, p.data(), Collect, &out);
    return out;
}

std::vector<Bytes> FollowStream(const std::vector<Bytes>& packets) {
    std::unique_ptr<SectionStream> s(new SectionStream);
    ResetSectionStream(*s);
    std::vector<Bytes> out;
    for (const Bytes& p : packets) FeedSectionStream(*s, p.data(), Collect, &out);
    return out;
}

TEST(SectionResync, EveryFollowerOfAPidDropsASectionThatClaimsMoreThanItHas) {
    const Bytes claims = ScheduleSectionOf(300, 1);
    Bytes damaged = ScheduleSectionOf(100, 4);
    damaged[1] = static_cast<uint8_t>(damaged[1] | 0x0F);
    const Bytes next = ScheduleSectionOf(60, 2);
    const Bytes later = ScheduleSectionOf(100, 3);
    struct Case {
        const char* name;
        std::vector<Bytes> packets;
        std::vector<Bytes> sections;
    };
    const Case cases[] = {
        {"next at pointer 0", {Pusi(0, {}, Cut(claims, 100)), Pusi(1, {}, next)}, {next}},
        {"tail too short", {Pusi(0, {}, Part(claims, 0, 183)), Pusi(1, Part(claims, 183, 203), next)}, {next}},
        {"one section to a packet", {Pusi(0, {}, damaged), Pusi(1, {}, next), Pusi(2, {}, damaged), Pusi(3, {}, later)},
         {next, later}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FollowSchedule(c.packets), c.sections) << c.name;
        EXPECT_EQ(FollowStream(c.packets), c.sections) << c.name;
    }
}

// --- Through the plug-in: one damaged packet, then a new version --------------------

const uint16_t kFullSeg = 0x0400;
const uint16_t kFullSegPmtPid = 0x0101;

Bytes Tag(uint8_t tag) { return build::Descriptor(kStreamIdentifierDescriptorTag, {tag}); }

Bytes Pat(uint16_t fullSegPmtPid, uint8_t version) {
    return build::PatSection(0x7FE0, {{0x0000, 0x0010}, {kFullSeg, fullSegPmtPid}, {kService, kOneSegPmtPid}},
                             version);
}

Bytes ServicePmt(uint16_t captionPid, uint8_t version) {
    return build::PmtSection(kFullSeg, 0x0111, Bytes(),
                             {{0x02, 0x0111, Tag(0x00)}, {0x0F, 0x0112, Tag(0x10)}, {0x06, captionPid, Tag(0x30)}},
                             version);
}

Bytes OneSegPmt(uint16_t videoPid, uint8_t version) {
    return build::PmtSection(kService, 0x01FF, Bytes(),
                             {{0x1B, videoPid, Tag(0x81)}, {0x0F, 0x0183, Tag(0x83)}, {0x06, 0x0187, Tag(0x87)}},
                             version);
}

// The name in alphanumerics: MSZ, LS1, then the letters.
Bytes Sdt(const char* name, uint8_t version) {
    Bytes text = {0x89, 0x0E};
    for (const char* c = name; *c != '\0'; ++c) text.push_back(static_cast<uint8_t>(*c));
    return build::SdtSection(build::kDefaultTransportStreamId, build::kDefaultNetworkId,
                             {build::NamedService(kService, text)}, version);
}

Bytes Present(uint8_t version) {
    build::EitEvent e = build::Event(0xE4C1, 21, 0, 0, 0, 54, 0);
    e.descriptors = Bytes(40, static_cast<uint8_t>(0x20 + version));
    return build::EitPfSection(kService, 0, {e}, version);
}

// The section with section_length raised past what one packet holds, in
// one PUSI packet of its own, as a bit error in the header leaves it.
Bytes Damaged(build::StreamBuilder& sb, uint16_t pid, const Bytes& section) {
    Bytes d = section;
    d[1] = static_cast<uint8_t>(d[1] | 0x03);
    return sb.Packet(pid, true, build::Cat({Bytes(1, 0), d}));
}

struct TableCase {
    const char* name;
    uint16_t watched;    // the service the host reports
    std::vector<std::pair<uint16_t, Bytes>> before;  // sent first, each whole
    uint16_t pid;
    Bytes current;       // the version held, then damaged once
    Bytes next;          // the new version that must be seen
    std::function<std::string(PluginState&)> seen;  // what the plug-in shows of the table
    std::string expectedBefore;
    std::string expectedAfter;
};

std::string Hex(int32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%04X", static_cast<unsigned>(v));
    return b;
}

TEST(DamagedTablePacket, TheNextVersionIsSeen) {
    const TableCase cases[] = {
        {"OneSegPmtEsPidTable", kService, {}, kOneSegPmtPid, OneSegPmt(0x0181, 0), OneSegPmt(0x0191, 1),
         [](PluginState& s) { return s.esPidTable.count > 1 ? Hex(s.esPidTable.entries[1].pid) : "none"; },
         "0x0181", "0x0191"},
        {"CaptionPmtSelection", kFullSeg, {{kPatPid, Pat(kFullSegPmtPid, 0)}}, kFullSegPmtPid,
         ServicePmt(0x0130, 0), ServicePmt(0x0132, 1),
         [](PluginState& s) { return Hex(s.captionHandover.selection.pid); }, "0x0130", "0x0132"},
        {"CaptionPatSelection", kFullSeg, {{kFullSegPmtPid, ServicePmt(0x0130, 0)}, {0x0103, ServicePmt(0x0133, 0)}},
         kPatPid, Pat(kFullSegPmtPid, 0), Pat(0x0103, 1),
         [](PluginState& s) { return Hex(s.captionHandover.selection.servicePmtPid); }, "0x0101", "0x0103"},
        {"SdtServiceName", kService, {}, kSdtPid, Sdt("OLD", 0), Sdt("NEW", 1),
         [](PluginState& s) { return std::string(s.serviceName); }, "OLD", "NEW"},
        {"PresentEvent", kService, {}, kEitPid, Present(0), Present(1),
         [](PluginState& s) { return Hex(s.presentMailbox.length > 5 ? s.presentMailbox.data[5] : -1); },
         Hex(Present(0)[5]), Hex(Present(1)[5])},
    };
    for (const TableCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlugin t;
        build::StreamBuilder sb;
        PluginOnChannelChange(t.s(), 27, c.watched);
        auto route = [&t](const Bytes& b) { RoutePackets(t.s(), b.data(), static_cast<uint32_t>(b.size())); };
        for (const auto& table : c.before) route(sb.Stream(table.first, {table.second}));
        route(sb.Stream(c.pid, {c.current}));
        // The PMT of the PAT's new PMT PID comes before the PAT that points there.
        for (const auto& table : c.before) route(sb.Stream(table.first, {table.second}));
        t.platform.Pump(t.s());
        EXPECT_EQ(c.seen(t.s()), c.expectedBefore);

        route(Damaged(sb, c.pid, c.current));
        route(sb.Stream(c.pid, {c.next}));
        for (const auto& table : c.before) route(sb.Stream(table.first, {table.second}));
        t.platform.Pump(t.s());
        EXPECT_EQ(c.seen(t.s()), c.expectedAfter);
        // And the one after it.
        route(sb.Stream(c.pid, {c.current}));
        for (const auto& table : c.before) route(sb.Stream(table.first, {table.second}));
        t.platform.Pump(t.s());
        EXPECT_EQ(c.seen(t.s()), c.expectedBefore);
    }
}

}  // namespace
