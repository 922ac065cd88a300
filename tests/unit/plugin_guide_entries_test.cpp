// The guide's service entries through their hashed index: whatever order
// services come, go (reused for others) and come back in, each entry in use
// is found by its ids, and no other ids find anything.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <tuple>

#include "plugin/guide_budget.h"
#include "plugin/guide_entries.h"
#include "plugin/guide_state.h"

namespace {

typedef std::tuple<uint16_t, uint16_t, uint16_t> Ids;

Ids IdsOf(const GuideServiceKey& k) { return Ids(k.networkId, k.transportStreamId, k.serviceId); }

// Every entry in use found at its own place, every other key of the
// domain found nowhere.
void ExpectIndexMatches(GuideStore& g, const std::map<Ids, int32_t>& model, const char* when) {
    ASSERT_EQ(static_cast<size_t>(g.serviceCount), model.size()) << when;
    for (int32_t i = 0; i < g.serviceCount; ++i) {
        EXPECT_EQ(FindGuideService(g, g.services[i].key), i) << when;
    }
    for (const auto& m : model) {
        const GuideServiceKey k = {std::get<0>(m.first), std::get<1>(m.first), std::get<2>(m.first)};
        EXPECT_EQ(FindGuideService(g, k), m.second) << when;
    }
}

struct ChurnCase {
    const char* name;
    int32_t megabytes;
    int services;  // distinct ids the stream brings
};

TEST(GuideEntries, EveryEntryIsFoundThroughServicesComingAndGoing) {
    const ChurnCase cases[] = {
        // Six entries in sixteen places, forty services: reuse on nearly
        // every new one, removals from the middle of probe runs.
        {"the least budget, many more services than entries", 4, 40},
        {"the default budget, a BS-like transponder's services", 32, 30},
        {"the default budget overfull", 32, 200},
    };
    for (const ChurnCase& c : cases) {
        std::unique_ptr<GuideStore> store(new GuideStore());
        GuideStore& g = *store;
        ASSERT_TRUE(SetGuideBudget(g, c.megabytes)) << c.name;
        std::map<Ids, int32_t> model;
        std::mt19937 random(7);
        for (int step = 0; step < 3000; ++step) {
            const int n = static_cast<int>(random() % static_cast<uint32_t>(c.services));
            // Ids close together, as a network numbers its services.
            const GuideServiceKey key = {static_cast<uint16_t>(n % 2 == 0 ? 4 : 0x7FE0),
                                         static_cast<uint16_t>(0x4000 + n / 8), static_cast<uint16_t>(0x0100 + n)};
            const int32_t found = FindGuideService(g, key);
            const auto known = model.find(IdsOf(key));
            ASSERT_EQ(found, known == model.end() ? -1 : known->second) << c.name << " step " << step;
            if (found >= 0) continue;
            const bool full = g.serviceCount == g.serviceCapacity;
            const int32_t added = AddGuideService(g, key, true);
            ASSERT_GE(added, 0) << c.name;
            if (full) {
                for (auto m = model.begin(); m != model.end(); ++m) {
                    if (m->second == added) {
                        model.erase(m);
                        break;
                    }
                }
            }
            model[IdsOf(key)] = added;
            if (step % 97 == 0) ExpectIndexMatches(g, model, c.name);
        }
        ExpectIndexMatches(g, model, c.name);
        // The work per lookup stays a probe or a few, not a scan over the
        // entries.
        const uint32_t before = g.pathWork.serviceCompares;
        for (int32_t i = 0; i < g.serviceCount; ++i) FindGuideService(g, g.services[i].key);
        EXPECT_LE(g.pathWork.serviceCompares - before, static_cast<uint32_t>(3 * g.serviceCount)) << c.name;

        ResetGuideEntries(g);
        for (const auto& m : model) {
            const GuideServiceKey k = {std::get<0>(m.first), std::get<1>(m.first), std::get<2>(m.first)};
            EXPECT_EQ(FindGuideService(g, k), -1) << c.name << ": forgotten after the reset";
        }
    }
}

// A store whose budget could not be had keeps no service and finds none.
TEST(GuideEntries, AStoreWithoutEntriesFindsAndAddsNothing) {
    std::unique_ptr<GuideStore> store(new GuideStore());
    GuideStore& g = *store;
    g.serviceCapacity = 0;  // as when the block could not be allocated
    ResetGuideEntries(g);
    const GuideServiceKey key = {4, 0x4010, 0x0101};
    EXPECT_EQ(FindGuideService(g, key), -1);
    EXPECT_EQ(AddGuideService(g, key, true), -1);
    EXPECT_EQ(FindGuideService(g, key), -1);
}

}  // namespace
