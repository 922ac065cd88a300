#include "win32/sample_plugin.h"

#include <new>

#include "plugin/plugin_core.h"
#include "plugin/recorder.h"
#include "ui/channel_buttons.h"
#include "ui/viewer.h"
#include "win32/dialog_proc.h"

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
    *out = new (std::nothrow) CSamplePlugin;
    return 1;
}

CSamplePlugin::CSamplePlugin() {
    InitPluginState(state_, &platform_);
    binding_.state = &state_;
    binding_.platform = &platform_;
}

// The window belongs to the host and the close command, but the host may
// free the library right after this and destroy its own window (and with it
// the viewer) only then: the viewer is released here, so that none of its
// messages reaches freed memory, a later object or the freed code. Nothing
// posts to it any more. An open recording file is closed here: after the
// object nothing else could close it.
CSamplePlugin::~CSamplePlugin() {
    HWND dialog = platform_.Dialog();
    platform_.SetDialog(nullptr);
    ReleaseViewer(dialog, &binding_);
    ReleaseRecording(state_);
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
    if (!PluginSetHost(state_, sdkVersion)) return 0;
    platform_.SetHost(host);
    return 1;
}

// Settings, then the modeless dialog owned by the host's window, then the
// channel table (which blanks the buttons it cannot tune). A dialog that
// cannot be created leaves the plug-in running without a window.
int32_t __thiscall CSamplePlugin::CreatePluginWindow(HWND parent) {
    const int32_t templateId = LoadSettingsBeforeWindow(state_);
    HWND dialog = CreateDialogParamA(g_module, MAKEINTRESOURCEA(templateId), parent,
                                     ViewerDialogProc, reinterpret_cast<LPARAM>(&binding_));
    platform_.SetDialog(dialog);
    state_.hasWindow = dialog != nullptr;
    LoadChannelTable(state_);
    return 1;
}

int32_t __thiscall CSamplePlugin::OnStreamData(const uint8_t* packets, uint32_t count) {
    return ViewerStreamData(state_, packets, count);
}

int32_t __thiscall CSamplePlugin::OnChannelChange(int32_t channel, int32_t serviceId) {
    return PluginOnChannelChange(state_, channel, serviceId);
}

int32_t __thiscall CSamplePlugin::OnHostEvent(int32_t, int32_t) { return 1; }
