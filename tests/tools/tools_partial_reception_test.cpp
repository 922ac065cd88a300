// The partial-reception scenario: kestrin-gen writes the one-segment layer
// alone, and the plug-in's core, fed only that, shows the one-segment
// service's programmes from the L-EIT.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/tools/tools_test_support.h"
#include "tools/gen/partial_reception.h"
#include "tools/gen/scenario.h"

namespace {

using tools_test::Bytes;

const std::string kScenario = std::string(KESTRIN_SOURCE_DIR) + "/tools/sample/partial-reception.scenario";

TEST(PartialReception, TheLayerCarriesNoSdtAndNoHighEit) {
    gen::Scenario scenario;
    std::string error;
    ASSERT_TRUE(gen::ParseScenario(tools_test::ReadText(kScenario), scenario, error)) << error;
    ASSERT_TRUE(scenario.partialReceptionOnly);
    const Bytes stream = tools_test::Generate(scenario);
    ASSERT_GT(stream.size(), 0u);
    std::set<uint16_t> pids;
    for (size_t o = 0; o + 188 <= stream.size(); o += 188) pids.insert(tools_test::Pid(&stream[o]));
    EXPECT_EQ(pids, (std::set<uint16_t>{0x0000, 0x0010, 0x0014, 0x0027, 0x1FC8, 0x01FF, 0x0181, 0x0183}));

    gen::Scenario bad;
    EXPECT_FALSE(gen::ParseScenario("[stream]\nlayers = one\n", bad, error));
    EXPECT_NE(error.find("layers"), std::string::npos) << error;
}

// kestrin-info on the layer alone: no caption name (no SDT), the news from
// the L-EIT, then at 22:00 the drama.
TEST(PartialReception, KestrinInfoShowsTheProgrammesFromTheLowEit) {
    const std::string ts = tools_test::WorkPath("partial-reception.ts");
    const tools_test::CommandResult gen = tools_test::RunCommand(std::string(KESTRIN_GEN_EXE) + " " +
                                                                 tools_test::Quote(kScenario) + " -o " +
                                                                 tools_test::Quote(ts));
    ASSERT_EQ(gen.exitCode, 0) << gen.err;
    const tools_test::CommandResult info =
        tools_test::RunCommand(std::string(KESTRIN_INFO_EXE) + " " + tools_test::Quote(ts));
    ASSERT_EQ(info.exitCode, 0) << info.err;
    const size_t news = info.out.find("ニュース９");
    const size_t drama = info.out.find("連続ドラマ「渡り鳥の空」第３話");
    ASSERT_NE(news, std::string::npos) << info.out;
    ASSERT_NE(drama, std::string::npos) << info.out;
    EXPECT_LT(news, drama);
    EXPECT_NE(info.out.find("22:00:00 - 22:45:00"), std::string::npos) << info.out;
}

}  // namespace
