#include "plugin/plugin_lifetime.h"

#include <mutex>

#include "plugin/plugin_state.h"

namespace {

// Guards the list, every listed state's handle and holds, and the next
// handle. Constant-initialised: it exists before any code of the library
// runs and needs no work when the library is loaded.
std::mutex g_listLock;
PluginState* g_listed = nullptr;
PluginHandle g_lastHandle = 0;

// The listed state named by `handle`, or null. Under g_listLock.
PluginState* Find(PluginHandle handle) {
    if (handle == 0) return nullptr;
    for (PluginState* s = g_listed; s != nullptr; s = s->nextListed) {
        if (s->handle == handle) return s;
    }
    return nullptr;
}

// Takes `state` off the list. Under g_listLock.
void Unlist(PluginState& state) {
    for (PluginState** link = &g_listed; *link != nullptr; link = &(*link)->nextListed) {
        if (*link == &state) {
            *link = state.nextListed;
            break;
        }
    }
    state.nextListed = nullptr;
    state.handle = 0;
}

// Drops one hold; true when it was the last. Under g_listLock.
bool DropHold(PluginState& state) {
    --state.holds;
    return state.holds == 0;
}

// Outside the lock: the free function may run a destructor of any length.
void Free(PluginFreeFunction free, void* owner) {
    if (free != nullptr) free(owner);
}

}  // namespace

PluginHandle ListPlugin(PluginState& state, PluginFreeFunction free, void* owner) {
    std::lock_guard<std::mutex> guard(g_listLock);
    // A handle is never 0 and never one still listed, even once the counter
    // has come round.
    do {
        ++g_lastHandle;
    } while (g_lastHandle == 0 || Find(g_lastHandle) != nullptr);
    state.handle = g_lastHandle;
    state.holds = 1;
    state.freeFunction = free;
    state.freeOwner = owner;
    state.nextListed = g_listed;
    g_listed = &state;
    return state.handle;
}

bool ReleasePlugin(PluginState& state) {
    bool last;
    PluginFreeFunction free;
    void* owner;
    {
        std::lock_guard<std::mutex> guard(g_listLock);
        Unlist(state);
        last = DropHold(state);
        free = state.freeFunction;
        owner = state.freeOwner;
    }
    if (!last) return true;
    Free(free, owner);
    return false;
}

PluginHold::PluginHold(PluginHandle handle) : state_(nullptr) {
    std::lock_guard<std::mutex> guard(g_listLock);
    state_ = Find(handle);
    if (state_ != nullptr) ++state_->holds;
}

PluginHold::~PluginHold() {
    if (state_ == nullptr) return;
    bool last;
    PluginFreeFunction free;
    void* owner;
    {
        std::lock_guard<std::mutex> guard(g_listLock);
        last = DropHold(*state_);
        free = state_->freeFunction;
        owner = state_->freeOwner;
    }
    if (last) Free(free, owner);
}
