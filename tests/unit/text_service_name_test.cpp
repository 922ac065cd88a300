// SDT sections to the service name, and the viewer's caption and view label.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/real_data.h"
#include "plugin/plugin_state.h"
#include "tests/support/test_plugin.h"
#include "tests/unit/text_test_helpers.h"
#include "text/service_name.h"
#include "tools/streamkit/arib_encoder.h"
#include "tools/streamkit/stream_builder.h"
#include "ui/programme_display.h"
#include "ui/resource.h"

namespace {

using build::Bytes;

const uint16_t kService = 0x0408;

std::string PresentCaption(const std::string& name) { return Sjis("番組情報（現在）- ") + name; }
std::string FollowingCaption(const std::string& name) { return Sjis("番組情報（次番組）- ") + name; }

void Sdt(TestPlugin& t, const Bytes& section) {
    ASSERT_LE(section.size(), sizeof t.s().sdtMailbox.data);
    std::memcpy(t.s().sdtMailbox.data, section.data(), section.size());
    t.s().sdtMailbox.length = static_cast<int32_t>(section.size());
    HandleServiceName(t.s());
}

Bytes SdtOf(const std::vector<build::SdtService>& services) {
    return build::SdtSection(build::kDefaultTransportStreamId, build::kDefaultNetworkId, services);
}

TestPlugin* NewPlugin() {
    TestPlugin* t = new TestPlugin;
    t->s().currentService = kService;
    return t;
}

// --- Two services, the second one current ----------------------------------------

TEST(ServiceName, FindsTheServiceBehindAnotherEntry) {
    std::unique_ptr<TestPlugin> t(NewPlugin());
    build::SdtService first;
    first.serviceId = 0x0400;
    first.descriptors = build::Descriptor(0xC1, Bytes(18, 0x00));  // 20 bytes, no service descriptor
    // Eight name bytes: MSZ, LS1, NAME and two redundant MSZ.
    build::SdtService second =
        build::NamedService(kService, {0x89, 0x0E, 'N', 'A', 'M', 'E', 0x89, 0x89});
    Bytes section = SdtOf({first, second});
    ASSERT_EQ(section[11], 0x04);
    ASSERT_EQ(section[12], 0x00);
    ASSERT_EQ(section[36], 0x04);
    ASSERT_EQ(section[37], 0x08);

    Sdt(*t, section);

    EXPECT_EQ(std::string(t->s().serviceName), "NAME");
    EXPECT_EQ(t->platform.windowTitle, PresentCaption("NAME"));
    EXPECT_EQ(t->platform.windowTitle,
              "\x94\xD4\x91\x67\x8F\xEE\x95\xF1\x81\x69\x8C\xBB\x8D\xDD\x81\x6A- NAME");
    EXPECT_EQ(t->platform.Text(IDC_PRESENT_FOLLOWING), "\x8C\xBB");
    const size_t n = section.size();
    EXPECT_EQ(t->s().lastSdtKey, (uint32_t(section[n - 4]) << 24) | (uint32_t(section[n - 3]) << 16) |
                                     (uint32_t(section[n - 2]) << 8) | section[n - 1]);
}

// --- The search ------------------------------------------------------------------

struct SearchCase {
    const char* name;
    std::vector<build::SdtService> services;
    std::string expected;  // Shift_JIS
};

build::SdtService Service(uint16_t id, const Bytes& descriptors) {
    build::SdtService s;
    s.serviceId = id;
    s.descriptors = descriptors;
    return s;
}

std::vector<SearchCase> SearchCases() {
    using build::Cat;
    using build::ServiceDescriptor;
    return {
        {"only entry", {Service(kService, ServiceDescriptor(0x01, {}, Alnum("ONLY")))}, "ONLY"},
        {"after two others",
         {Service(0x0400, ServiceDescriptor(0x01, {}, Alnum("A"))), Service(0x0401, {}),
          Service(kService, ServiceDescriptor(0x01, {}, Alnum("THIRD")))},
         "THIRD"},
        {"provider name is skipped",
         {Service(kService, ServiceDescriptor(0x01, Alnum("PROVIDER"), Alnum("NAME")))}, "NAME"},
        {"not listed", {Service(0x0400, ServiceDescriptor(0x01, {}, Alnum("OTHER")))}, ""},
        {"matching entry without a service descriptor",
         {Service(kService, build::Descriptor(0xC1, {0x84}))}, ""},
        {"matching entry with no descriptors", {Service(kService, {})}, ""},
        {"the last service descriptor stands",
         {Service(kService, Cat({ServiceDescriptor(0x01, {}, Alnum("FIRSTNAME")), build::Descriptor(0xCF, {0x01}),
                                 ServiceDescriptor(0x01, {}, Alnum("LAST"))}))},
         "LAST"},
        {"entries after the match are not looked at",
         {Service(kService, build::Descriptor(0xC1, {0x84})),
          Service(kService, ServiceDescriptor(0x01, {}, Alnum("LATER")))},
         ""},
        {"empty service name", {Service(kService, ServiceDescriptor(0x01, Alnum("P"), {}))}, ""},
        {"Japanese name",
         {Service(kService, ServiceDescriptor(0xC0, {}, EncodeAribFromUtf8("テレビ１")))}, "テレビ１"},
        {"no entries at all", {}, ""},
    };
}

TEST(ServiceName, SearchOfTheServiceLoop) {
    for (const SearchCase& c : SearchCases()) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<TestPlugin> t(NewPlugin());
        Sdt(*t, SdtOf(c.services));
        const std::string expected = Sjis(c.expected.c_str());
        EXPECT_EQ(std::string(t->s().serviceName), expected);
        EXPECT_EQ(t->platform.windowTitle, PresentCaption(expected));
        EXPECT_EQ(t->platform.Text(IDC_PRESENT_FOLLOWING), Sjis("現"));
    }
}

TEST(ServiceName, ShortSectionsLeaveTheNameEmpty) {
    // section_length 12 has room for no entry; 13..15 only for part of an
    // entry header, which runs into the CRC_32.
    for (int sectionLength : {9, 12, 13, 14, 15}) {
        SCOPED_TRACE(sectionLength);
        std::unique_ptr<TestPlugin> t(NewPlugin());
        std::strcpy(t->s().serviceName, "OLD");
        Bytes s = {0x42, 0xF0, 0x00, 0x7F, 0xE0, 0xC1, 0x00, 0x00, 0x7F, 0xE0, 0xFF};
        s.resize(static_cast<size_t>(sectionLength + 3 - 4), 0x00);
        if (s.size() > 12) {
            s[11] = kService >> 8;
            s[12] = kService & 0xFF;
        }
        s.insert(s.end(), {0xAA, 0xBB, 0xCC, 0xDD});
        s[2] = static_cast<uint8_t>(sectionLength);
        Sdt(*t, s);
        EXPECT_EQ(std::string(t->s().serviceName), "");
        EXPECT_EQ(t->platform.windowTitle, PresentCaption(""));
        EXPECT_EQ(t->s().lastSdtKey, 0xAABBCCDDu);
    }
}

TEST(ServiceName, RepeatedSectionChangesNothing) {
    std::unique_ptr<TestPlugin> t(NewPlugin());
    Bytes section = SdtOf({Service(kService, build::ServiceDescriptor(0x01, {}, Alnum("NAME")))});
    Sdt(*t, section);
    std::strcpy(t->s().serviceName, "CHANGED");
    t->s().view = View::kFollowing;
    Sdt(*t, section);
    EXPECT_EQ(t->platform.titleHistory.size(), 1u);
    EXPECT_EQ(std::string(t->s().serviceName), "CHANGED");
    // A service change resets the key: the same section is processed again.
    t->s().lastSdtKey = 0;
    Sdt(*t, section);
    EXPECT_EQ(t->platform.windowTitle, FollowingCaption("NAME"));
}

TEST(ServiceName, SeveralSdtSectionsEachWithANewKey) {
    // Every SDT section arrives in the same mailbox; one that does not list
    // the current service empties the name.
    std::unique_ptr<TestPlugin> t(NewPlugin());
    Bytes listing = build::SdtSection(0x7FE0, 0x7FE0, {Service(kService, build::ServiceDescriptor(0x01, {}, Alnum("MINE")))},
                                      0, 0, 1);
    Bytes other = build::SdtSection(0x7FE0, 0x7FE0, {Service(0x0500, build::ServiceDescriptor(0x01, {}, Alnum("NOT")))},
                                    0, 1, 1);
    Sdt(*t, listing);
    EXPECT_EQ(t->platform.windowTitle, PresentCaption("MINE"));
    Sdt(*t, other);
    EXPECT_EQ(t->platform.windowTitle, PresentCaption(""));
    EXPECT_EQ(std::string(t->s().serviceName), "");
    Sdt(*t, listing);
    EXPECT_EQ(t->platform.windowTitle, PresentCaption("MINE"));
    EXPECT_EQ(t->platform.titleHistory.size(), 3u);
}

TEST(ServiceName, MailboxWithoutAWholeSectionIsIgnored) {
    Bytes section = SdtOf({Service(kService, build::ServiceDescriptor(0x01, {}, Alnum("NAME")))});
    for (int32_t length : {0, -1, 2, static_cast<int32_t>(section.size()) - 1, kMaxSectionSize + 1}) {
        SCOPED_TRACE(length);
        std::unique_ptr<TestPlugin> t(NewPlugin());
        std::memcpy(t->s().sdtMailbox.data, section.data(), section.size());
        t->s().sdtMailbox.length = length;
        HandleServiceName(t->s());
        EXPECT_TRUE(t->platform.titleHistory.empty());
        EXPECT_EQ(t->s().lastSdtKey, 0u);
    }
}

// --- Lengths that overrun what was collected ------------------------------------------

TEST(ServiceName, OverrunningLengthsAreCutAtTheSection) {
    struct Case {
        const char* name;
        Bytes section;
        std::string expected;
    };
    std::vector<Case> cases;
    {
        // descriptors_loop_length 4095 on the only entry: the walk stops at
        // the CRC_32.
        Bytes s = SdtOf({Service(kService, build::ServiceDescriptor(0x01, {}, Alnum("NAME")))});
        s[14] = static_cast<uint8_t>(s[14] | 0x0F);
        s[15] = 0xFF;
        build::Reseal(s);
        cases.push_back({"loop length beyond the section", s, "NAME"});
    }
    {
        // A skipped entry whose loop length jumps past the section ends the
        // search.
        build::SdtService skipped = Service(0x0400, {});
        skipped.descriptorsLoopLength = 0xFFF;
        Bytes s = SdtOf({skipped, Service(kService, build::ServiceDescriptor(0x01, {}, Alnum("NAME")))});
        cases.push_back({"skipped entry jumping past the section", s, ""});
    }
    {
        // service_name_length 0xFF: the name is what lies inside the
        // descriptor.
        Bytes d = build::Descriptor(0x48, Bytes{0x01, 0x00, 0xFF, 0x89, 0x0E, 'C', 'U', 'T'});
        Bytes s = SdtOf({Service(kService, build::Cat({d, build::Descriptor(0xC1, {0x84})}))});
        cases.push_back({"name length beyond its descriptor", s, "CUT"});
    }
    {
        // Provider name length 0xFF: no name length byte inside the
        // descriptor, so the descriptor gives no name.
        Bytes d = build::Descriptor(0x48, Bytes{0x01, 0xFF, 'P', 0x04, 0x89, 0x0E, 'A', 'B'});
        Bytes s = SdtOf({Service(kService, d)});
        cases.push_back({"provider length beyond its descriptor", s, ""});
    }
    {
        // descriptor_length 0xFF on a service descriptor: cut at the CRC_32;
        // the name inside is whole.
        Bytes d = build::ServiceDescriptor(0x01, {}, Alnum("WHOLE"));
        Bytes s = SdtOf({Service(kService, d)});
        s[17] = 0xFF;
        build::Reseal(s);
        cases.push_back({"descriptor length beyond the section", s, "WHOLE"});
    }
    {
        // The name ends where the CRC_32 begins; its length, the
        // descriptor_length and the loop length all claim the CRC_32 bytes
        // too: they are not part of the name.
        Bytes d = {0x48, 0x0D, 0x01, 0x00, 0x0A, 0x89, 0x0E, 'A', 'B', 'C', 'D'};
        build::SdtService e = Service(kService, d);
        e.descriptorsLoopLength = 15;
        Bytes s = SdtOf({e});
        const size_t n = s.size();
        s[n - 4] = 'E';
        s[n - 3] = 'F';
        s[n - 2] = 'G';
        s[n - 1] = 'H';
        cases.push_back({"name reaching into the CRC_32", s, "ABCD"});
    }
    {
        // 40 middle-size alphanumerics: the name holds 31 bytes.
        Bytes s = SdtOf({Service(kService, build::ServiceDescriptor(0x01, {}, Alnum(std::string(40, 'X'))))});
        cases.push_back({"long name", s, std::string(31, 'X')});
    }
    {
        // 20 full-width characters (40 bytes): 15 whole ones fit in 31 bytes.
        Bytes name = {0x0E};
        name.insert(name.end(), 20, 'A');
        std::string expected;
        for (int i = 0; i < 15; ++i) expected += "\x82\x60";
        Bytes s = SdtOf({Service(kService, build::ServiceDescriptor(0x01, {}, name))});
        cases.push_back({"long full-width name", s, expected});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<TestPlugin> t(NewPlugin());
        Sdt(*t, c.section);
        EXPECT_EQ(std::string(t->s().serviceName), c.expected);
        EXPECT_EQ(t->platform.windowTitle, PresentCaption(c.expected));
    }
}

TEST(ServiceName, RandomSectionsNeverEscapeTheirBuffers) {
    uint32_t seed = 0x5DB8;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    for (int i = 0; i < 3000; ++i) {
        std::unique_ptr<TestPlugin> t(NewPlugin());
        const int sectionLength = 1 + static_cast<int>(next() % (i < 2000 ? 200 : 4095));
        Bytes s(static_cast<size_t>(sectionLength + 3));
        for (uint8_t& b : s) b = static_cast<uint8_t>(next());
        s[0] = 0x42;
        s[1] = static_cast<uint8_t>(0xF0 | (sectionLength >> 8));
        s[2] = static_cast<uint8_t>(sectionLength);
        if (sectionLength > 20 && (i % 2) == 0) {
            // The current service first, with a plausible descriptor loop.
            s[11] = kService >> 8;
            s[12] = kService & 0xFF;
            for (int at = 16; at + 1 < sectionLength - 1;) {
                s[static_cast<size_t>(at)] = (next() & 1) ? 0x48 : 0xC1;
                at += 2 + s[static_cast<size_t>(at + 1)];
            }
        }
        Sdt(*t, s);
        ASSERT_LT(std::strlen(t->s().serviceName), static_cast<size_t>(kServiceNameSize));
    }
}

// --- Real broadcast data ---------------------------------------------------------------

TEST(ServiceName, RealSdtOverTwoPacketsNamesTheOneSegmentServices) {
    // The SDT of a Tokyo multiplex, carried in two packets of PID 0x0011.
    const std::vector<uint8_t> ts = ReadRealData("tokyo-mx-psi.ts");
    ASSERT_EQ(ts.size(), 188u * 6);
    Bytes section;
    for (size_t o = 0; o + 188 <= ts.size(); o += 188) {
        const uint8_t* p = &ts[o];
        if ((((p[1] & 0x1F) << 8) | p[2]) != 0x0011) continue;
        const bool pusi = (p[1] & 0x40) != 0;
        ASSERT_EQ(p[3] & 0x20, 0);  // no adaptation field in these packets
        section.insert(section.end(), p + (pusi ? 5 + p[4] : 4), p + 188);
    }
    ASSERT_GE(section.size(), 3u);
    section.resize(static_cast<size_t>((((section[1] & 0x0F) << 8) | section[2]) + 3));
    ASSERT_TRUE(build::CrcIsCorrect(section));

    struct Case {
        uint16_t serviceId;
        const char* name;  // UTF-8
    };
    const Case cases[] = {
        {0x5DB8, "ＭＸワンセグ１"},
        {0x5DB9, "ＭＸワンセグ２"},
        {0x5C38, "ＴＯＫＹＯ　ＭＸ１"},
        {0x1234, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlugin t;
        t.s().currentService = c.serviceId;
        Sdt(t, section);
        EXPECT_EQ(ShiftJisToUtf8(t.s().serviceName), c.name);
        EXPECT_EQ(t.platform.windowTitle, PresentCaption(Sjis(c.name)));
    }
}

// --- Caption and view label ---------------------------------------------------------------

// The following event is shown again from its next section. The section
// being collected is kept: the present/following assembler follows its PID
// whichever view is shown, so nothing it holds is stale.
TEST(Caption, FollowingViewRestartsTheFollowingEvent) {
    std::unique_ptr<TestPlugin> t(NewPlugin());
    std::strcpy(t->s().serviceName, "NAME");
    t->s().eitAssembler.follower.inSection = true;
    t->s().lastFollowingKey = 0x11223344;

    t->s().view = View::kFollowing;
    UpdateCaption(t->s());
    EXPECT_EQ(t->platform.windowTitle, FollowingCaption("NAME"));
    EXPECT_EQ(t->platform.windowTitle,
              "\x94\xD4\x91\x67\x8F\xEE\x95\xF1\x81\x69\x8E\x9F\x94\xD4\x91\x67\x81\x6A- NAME");
    EXPECT_EQ(t->platform.Text(IDC_PRESENT_FOLLOWING), "\x8E\x9F");
    EXPECT_TRUE(SectionInProgress(t->s().eitAssembler));
    EXPECT_EQ(t->s().lastFollowingKey, 0u);

    // Back to the present view: nothing is reset.
    t->s().lastFollowingKey = 0x55667788;
    t->s().view = View::kPresent;
    UpdateCaption(t->s());
    EXPECT_EQ(t->platform.windowTitle, PresentCaption("NAME"));
    EXPECT_EQ(t->platform.Text(IDC_PRESENT_FOLLOWING), "\x8C\xBB");
    EXPECT_TRUE(SectionInProgress(t->s().eitAssembler));
    EXPECT_EQ(t->s().lastFollowingKey, 0x55667788u);
}

TEST(Caption, NewSdtSectionInTheFollowingViewAlsoRestartsTheFollowingEvent) {
    std::unique_ptr<TestPlugin> t(NewPlugin());
    t->s().view = View::kFollowing;
    t->s().lastFollowingKey = 0x11223344;
    Sdt(*t, SdtOf({Service(kService, build::ServiceDescriptor(0x01, {}, Alnum("NAME")))}));
    EXPECT_EQ(t->platform.windowTitle, FollowingCaption("NAME"));
    EXPECT_EQ(t->platform.Text(IDC_PRESENT_FOLLOWING), Sjis("次"));
    EXPECT_EQ(t->s().lastFollowingKey, 0u);
}

TEST(Caption, LongestNameFitsBothCaptions) {
    std::unique_ptr<TestPlugin> t(NewPlugin());
    std::memset(t->s().serviceName, 'W', 31);
    t->s().serviceName[31] = '\0';
    for (int32_t view : {0, 1}) {
        t->s().view = view ? View::kFollowing : View::kPresent;
        UpdateCaption(t->s());
        EXPECT_EQ(t->platform.windowTitle,
                  (view ? FollowingCaption("") : PresentCaption("")) + std::string(31, 'W'));
    }
}

TEST(Caption, WindowCallsAreMadeWithoutTheLock) {
    // SetWindowTextA and SetDlgItemTextA may wait for the window's thread;
    // the platform's lock contract probe reports any made with the plug-in's
    // lock held (asked from a thread of its own: try_lock from the owner is
    // undefined for std::mutex).
    std::unique_ptr<TestPlugin> t(NewPlugin());
    t->platform.probeState = &t->s();
    Bytes section = SdtOf({Service(kService, build::ServiceDescriptor(0x01, {}, Alnum("NAME")))});
    std::memcpy(t->s().sdtMailbox.data, section.data(), section.size());
    t->s().sdtMailbox.length = static_cast<int32_t>(section.size());
    HandleServiceName(t->s());
    t->s().view = View::kFollowing;
    UpdateCaption(t->s());
    EXPECT_EQ(t->platform.titleHistory.size(), 2u);
    EXPECT_EQ(t->platform.violations, std::vector<std::string>{});
}

}  // namespace
