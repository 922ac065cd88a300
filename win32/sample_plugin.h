// CSamplePlugin: the one plug-in object the host creates through GetIface2.
// Each IDTVPlugin slot forwards to the viewer (ui/); the object holds the
// plug-in state and its Win32 platform.
#ifndef KESTRIN_WIN32_SAMPLE_PLUGIN_H
#define KESTRIN_WIN32_SAMPLE_PLUGIN_H

#include <windows.h>

#include "plugin/plugin_core.h"
#include "plugin/plugin_lifetime.h"
#include "plugin/plugin_state.h"
#include "win32/dtv_interfaces.h"
#include "win32/win32_platform.h"

// The state and its platform in one allocation, shared by the plug-in
// object and the window handlers running on them.
struct PluginInstance {
    PluginState state;
    Win32Platform platform;

    PluginInstance() { InitPluginState(state, &platform); }

private:
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;
};

class CSamplePlugin final : public IDTVPlugin {
public:
    // A new object with its state listed, or null when memory for either
    // cannot be had.
    static CSamplePlugin* Create();
    ~CSamplePlugin();

#ifndef _MSC_VER
    void* __thiscall DeletingDestructor(unsigned int flags) override;
#endif
    int32_t __thiscall SetHost(IDTVHost* host, uint32_t sdkVersion) override;
    int32_t __thiscall CreatePluginWindow(HWND parent) override;
    int32_t __thiscall OnStreamData(const uint8_t* packets, uint32_t count) override;
    int32_t __thiscall OnChannelChange(int32_t channel, int32_t serviceId) override;
    int32_t __thiscall OnHostEvent(int32_t a, int32_t b) override;

private:
    explicit CSamplePlugin(PluginInstance* instance);
    CSamplePlugin(const CSamplePlugin&) = delete;
    CSamplePlugin& operator=(const CSamplePlugin&) = delete;

    // The state and platform, shared with the window handlers running on
    // them: the last of the object and those handlers frees them.
    PluginInstance* instance_;
    // The windows' name for the state (plugin/plugin_lifetime.h).
    PluginHandle handle_;
};

#endif
