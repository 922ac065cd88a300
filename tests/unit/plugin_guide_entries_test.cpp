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
#include "plugin/plugin_state.h"
#include "tests/support/test_plugin.h"

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

// --- Which entry a new service takes when every one is in use ------------

// A plug-in at the least budget with every entry given, each service named
// by an SDT and with a section filed, so that nothing but the watch
// decides.
struct FullEntries {
    FullEntries() {
        ApplyGuideBudget(t.s(), kGuideLeastMemoryMB);
        capacity = g().serviceCapacity;
        for (int32_t i = 0; i < capacity; ++i) {
            const GuideServiceKey key = Key(i);
            NameGuideService(g(), key);
            EXPECT_EQ(AddGuideService(g(), key, true), i);
            g().services[i].filed = true;
        }
    }
    static GuideServiceKey Key(int32_t n) {
        return GuideServiceKey{4, 0x4010, static_cast<uint16_t>(0x0100 + n)};
    }
    // A named newcomer: the entry it was given.
    int32_t AddNamed() {
        const GuideServiceKey key = Key(0x0800);
        NameGuideService(g(), key);
        return AddGuideService(g(), key, true);
    }
    GuideStore& g() { return t.s().guide; }

    TestPlugin t;
    int32_t capacity = 0;
};

// The watched service is never the one reused, even when it has nothing
// filed yet (tuned to a moment ago, its first sections still on the way)
// and so would come first in the order.
TEST(GuideEntries, TheWatchedEntryIsNeverReused) {
    for (const int32_t watched : {0, 2, -1}) {
        FullEntries e;
        const int32_t w = watched < 0 ? e.capacity - 1 : watched;
        e.g().services[w].filed = false;
        MarkGuideWatched(e.t.s(), w);
        const int32_t taken = e.AddNamed();
        ASSERT_GE(taken, 0) << w;
        EXPECT_NE(taken, w) << w;
        EXPECT_EQ(e.g().watched, w) << w;
        EXPECT_EQ(FindGuideService(e.g(), FullEntries::Key(w)), w) << w;
    }
}

// Before the first TOT the watch stamps are a count: every service change
// stamps later than the one before. The entry watched longest ago goes,
// not the one given first.
TEST(GuideEntries, BeforeTheFirstTotTheOldestWatchIsReused) {
    FullEntries e;
    ASSERT_LT(BroadcastNow(e.t.s()), 0);
    // Watched last to first: the last entry given is the one left longest ago.
    for (int32_t i = e.capacity - 1; i >= 0; --i) MarkGuideWatched(e.t.s(), i);
    EXPECT_EQ(e.AddNamed(), e.capacity - 1);
    EXPECT_EQ(FindGuideService(e.g(), FullEntries::Key(1)), 1);
}

}  // namespace
