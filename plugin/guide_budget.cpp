#include "plugin/guide_budget.h"

#include <cstring>
#include <mutex>
#include <new>

#include "plugin/guide_entries.h"
#include "plugin/plugin_state.h"

void ResetGuideEntries(GuideStore& g) {
    g.serviceCount = 0;
    ClearGuideServiceIndex(g);
    g.watched = -1;
    g.actualKnown = false;
    g.actualChannel = -1;
    g.tableCount = 0;
    g.watchedTable = -1;
    g.listCount = 0;
    for (int32_t i = 0; i < g.serviceCapacity; ++i) {
        g.services[i].generation = 0;
        g.tables[i].ready = false;
        g.tables[i].filedGeneration = 0;
        g.tables[i].entryGeneration = 0;
    }
}

int32_t GuideServicesForBudget(int32_t megabytes) {
    if (megabytes < kGuideLeastMemoryMB) megabytes = kGuideLeastMemoryMB;
    if (megabytes > kGuideMostMemoryMB) megabytes = kGuideMostMemoryMB;
    return static_cast<int32_t>(static_cast<size_t>(megabytes) * 1024 * 1024 / kGuideServiceShare);
}

GuideStore::GuideStore() {
    ResetSectionQueue(queue);
    pfLengths[0] = pfLengths[1] = 0;
    std::memset(sdtFiled, 0, sizeof sdtFiled);
    sdtFiledNext = 0;
    lastStamp = 0;
    entriesAdded = 0;
    pendingService = -1;
    pendingGeneration = 0;
    lastPfKey[0] = lastPfKey[1] = 0;
    std::memset(names, 0, sizeof names);
    watched = -1;
    ClearGuideServiceIndex(*this);  // no entry, even when no budget can be had
    actualKnown = false;
    actualNetworkId = actualTransportStreamId = 0;
    actualChannel = -1;
    SetGuideBudget(*this, kGuideDefaultMemoryMB);
}

GuideStore::~GuideStore() { delete[] memory; }

namespace {

int32_t ClampBudget(int32_t megabytes) {
    if (megabytes < kGuideLeastMemoryMB) return kGuideLeastMemoryMB;
    return megabytes > kGuideMostMemoryMB ? kGuideMostMemoryMB : megabytes;
}

// Nothing held or waiting yet: a budget may still be given.
bool BudgetMayChange(const GuideStore& g) { return g.memory == nullptr || (g.serviceCount == 0 && !GuideSectionsWaiting(g)); }

uint8_t* AllocateBudget(int32_t megabytes) {
    return new (std::nothrow) uint8_t[static_cast<size_t>(GuideServicesForBudget(megabytes)) * kGuideServiceShare];
}

// Lays the entries out in `memory` (AllocateBudget's) and returns the block
// it replaces.
uint8_t* InstallBudget(GuideStore& g, uint8_t* memory, int32_t megabytes) {
    const int32_t count = GuideServicesForBudget(megabytes);
    uint8_t* old = g.memory;
    g.memory = memory;
    g.memoryMB = megabytes;
    // Tables first, then the slots, then the pools: both structures are
    // multiples of 8 bytes, so each stays aligned.
    g.tables = reinterpret_cast<GuideServiceTable*>(memory);
    g.services = reinterpret_cast<GuideServiceSlot*>(memory + static_cast<size_t>(count) * sizeof(GuideServiceTable));
    uint8_t* pools = memory + static_cast<size_t>(count) * (sizeof(GuideServiceTable) + sizeof(GuideServiceSlot));
    for (int32_t i = 0; i < count; ++i) {
        new (&g.tables[i]) GuideServiceTable;
        new (&g.services[i]) GuideServiceSlot;
        g.tables[i].pool = pools + static_cast<size_t>(i) * kSchedulePoolSizeEightDays;
    }
    g.serviceCapacity = count;
    ResetGuideEntries(g);
    return old;
}

}  // namespace

bool SetGuideBudget(GuideStore& g, int32_t megabytes) {
    megabytes = ClampBudget(megabytes);
    if (!BudgetMayChange(g)) return false;
    if (g.memory != nullptr && megabytes == g.memoryMB) return true;
    uint8_t* memory = AllocateBudget(megabytes);
    if (memory == nullptr) return false;
    delete[] InstallBudget(g, memory, megabytes);
    return true;
}

// The allocation and the freeing outside the lock; the lock only to look
// and to put the new block in place.
void ApplyGuideBudget(PluginState& s, int32_t megabytes) {
    GuideStore& g = s.guide;
    megabytes = ClampBudget(megabytes);
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (!BudgetMayChange(g) || (g.memory != nullptr && megabytes == g.memoryMB)) return;
    }
    uint8_t* memory = AllocateBudget(megabytes);
    if (memory == nullptr) return;
    uint8_t* unused = memory;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (BudgetMayChange(g)) unused = InstallBudget(g, memory, megabytes);
    }
    delete[] unused;
}

