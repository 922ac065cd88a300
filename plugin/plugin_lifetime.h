// How long a plug-in's state lives: as long as its owner (the plug-in
// object) keeps it and every window handler that started before the owner
// let it go has ended.
//
// The host may delete the object on any thread while the window's thread is
// inside a handler (filing the guide, decoding captions, painting a list).
// The owner's end never waits for that thread, which may itself be waiting
// for the host's delete to return; instead whoever lets go last frees the
// state.
//
// Windows keep a PluginHandle, not a pointer. A handle names its state only
// until the owner lets it go and is never given to another state, so a
// window left standing reaches neither freed memory nor a later object. The
// holds and the list of handles are guarded by one process-wide lock of
// their own, taken only for the count: never PluginState::lock, never across
// a platform call.
#ifndef KESTRIN_PLUGIN_PLUGIN_LIFETIME_H
#define KESTRIN_PLUGIN_PLUGIN_LIFETIME_H

#include <cstdint>

struct PluginState;

// Names a listed state; 0 names none.
typedef std::uintptr_t PluginHandle;

// Frees a state and whatever lives with it (its platform), given the owner
// pointer it was listed with.
typedef void (*PluginFreeFunction)(void* owner);

// Lists `state` (initialised) with its owner's one hold and returns its
// handle, never 0. `free` is called with `owner` exactly once, by whoever
// lets go last, on that thread and with no lock held.
PluginHandle ListPlugin(PluginState& state, PluginFreeFunction free, void* owner);

// The owner's end: from now on the handle names nothing (no new hold), and
// the owner's hold goes. Frees the state here when no handler holds it;
// otherwise the last handler frees it when it ends. Never waits. Returns
// true in that second case: a handler is still running on the state (and on
// the code that called it, which the caller may have to keep loaded).
bool ReleasePlugin(PluginState& state);

// A handler's hold, for the handler's whole run: the state of `handle` while
// its owner still has it, or none (State() null) once the owner let go or
// for handle 0. Holds nest: a handler inside another takes its own.
class PluginHold {
public:
    explicit PluginHold(PluginHandle handle);
    ~PluginHold();

    PluginState* State() const { return state_; }

private:
    PluginHold(const PluginHold&) = delete;
    PluginHold& operator=(const PluginHold&) = delete;

    PluginState* state_;
};

#endif
