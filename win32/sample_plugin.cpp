#include "win32/sample_plugin.h"

#include <new>

#include "plugin/guide_keeper.h"
#include "plugin/plugin_core.h"
#include "plugin/recorder.h"
#include "ui/channel_buttons.h"
#include "ui/viewer.h"
#include "win32/dialog_proc.h"
#include "win32/left_window.h"

// The library's module handle, recorded by the entry function; the dialog
// templates are loaded from it.
static HINSTANCE g_module = nullptr;

// Records the module handle on every call and does nothing else: no work
// under the loader lock.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD, LPVOID) {
    g_module = module;
    return TRUE;
}

// The one export. The first argument is reserved by the host and ignored.
// The result is 1 even when the object cannot be allocated (*out is then
// null). Without a place to put the object none is made.
extern "C" __declspec(dllexport) int32_t __cdecl GetIface2(void* /*reserved*/, IDTVPlugin** out) {
    if (out == nullptr) return 1;
    *out = CSamplePlugin::Create();
    return 1;
}

namespace {

// Whoever lets the state go last, the object's end or the window handler
// running then, frees it here, with nothing else running on it: a cache
// load still under way is given up and its file closed first, so that no
// later save of the host's process finds the file held.
void FreeInstance(void* owner) {
    PluginInstance* instance = static_cast<PluginInstance*>(owner);
    StopGuideTableLoad(instance->state);
    delete instance;
}

}  // namespace

CSamplePlugin* CSamplePlugin::Create() {
    PluginInstance* instance = new (std::nothrow) PluginInstance;
    if (instance == nullptr) return nullptr;
    CSamplePlugin* plugin = new (std::nothrow) CSamplePlugin(instance);
    if (plugin == nullptr) delete instance;
    return plugin;
}

CSamplePlugin::CSamplePlugin(PluginInstance* instance)
    : instance_(instance), handle_(ListPlugin(instance->state, FreeInstance, instance)) {}

// The window belongs to the host and the close command, but the host may
// free the library right after this and destroy its own window (and with it
// the viewer) only then: the viewer is released here, so that none of its
// messages reaches freed memory, a later object or the freed code. Nothing
// posts to it any more, and the host hears nothing more. An open recording
// file is closed here: after the object nothing else could close it. A
// handler the window's thread is running meanwhile keeps the state until it
// ends, and frees it then; nothing here waits for it.
CSamplePlugin::~CSamplePlugin() {
    Win32Platform& platform = instance_->platform;
    HWND dialog = platform.Dialog();
    // On the window's thread a handler holding the state is below this call
    // on the stack and returns before the host can free the library; from
    // another thread it may still be running when the host does.
    const bool otherThread = dialog != nullptr && GetWindowThreadProcessId(dialog, nullptr) != GetCurrentThreadId();
    // The programme table goes to its cache file from the window's thread
    // only, which alone files into it; deleted from another thread, the
    // last periodic save stands.
    if (!otherThread) SaveGuideTable(instance_->state);
    platform.SetDialog(nullptr);
    platform.SetHost(nullptr);
    ReleaseViewer(dialog, handle_);
    ReleaseRecording(instance_->state);
    if (ReleasePlugin(instance_->state) && otherThread) KeepThisLibraryLoaded();
}

#ifndef _MSC_VER
void* __thiscall CSamplePlugin::DeletingDestructor(unsigned int flags) {
    if (flags & 1u) {
        delete this;
    } else {
        this->~CSamplePlugin();
    }
    return this;
}
#endif

int32_t __thiscall CSamplePlugin::SetHost(IDTVHost* host, uint32_t sdkVersion) {
    if (!PluginSetHost(instance_->state, sdkVersion)) return 0;
    instance_->platform.SetHost(host);
    return 1;
}

// Settings, then the modeless dialog owned by the host's window, then the
// channel table (which blanks the buttons it cannot tune). A dialog that
// cannot be created leaves the plug-in running without a window.
int32_t __thiscall CSamplePlugin::CreatePluginWindow(HWND parent) {
    PluginState& state = instance_->state;
    const int32_t templateId = LoadSettingsBeforeWindow(state);
    HWND dialog = CreateDialogParamA(g_module, MAKEINTRESOURCEA(templateId), parent,
                                     ViewerDialogProc, static_cast<LPARAM>(handle_));
    instance_->platform.SetDialog(dialog);
    state.hasWindow = dialog != nullptr;
    LoadChannelTable(state);
    return 1;
}

int32_t __thiscall CSamplePlugin::OnStreamData(const uint8_t* packets, uint32_t count) {
    return ViewerStreamData(instance_->state, packets, count);
}

int32_t __thiscall CSamplePlugin::OnChannelChange(int32_t channel, int32_t serviceId) {
    return PluginOnChannelChange(instance_->state, channel, serviceId);
}

int32_t __thiscall CSamplePlugin::OnHostEvent(int32_t, int32_t) { return 1; }
