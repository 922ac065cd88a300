// The plug-in's binary interface as a host sees it: the export, the slots of
// the plug-in object's table of functions and the slots of the host's
// callback object, for the programs that drive Kestrin.dll by slot number
// (the Wine test driver and kestrin-host).
//
// Declared here on purpose, apart from the DLL's own interface header
// (win32/dtv_interfaces.h): a host and the DLL must agree on the binary
// layout, not on a header, so a slot-order or calling-convention fault in
// the DLL must not agree with itself through a shared declaration.
//
// Both tables follow a 32-bit MSVC object: the table pointer first, one slot
// per virtual function in declaration order, every slot __thiscall (object
// in ECX, arguments on the stack, callee pops). Slot 0 of the plug-in object
// is MSVC's scalar deleting destructor, which takes a flags word (bit 0:
// free the memory) and returns the object's address.
#ifndef KESTRIN_TOOLS_COMMON_DTV_RAW_ABI_H
#define KESTRIN_TOOLS_COMMON_DTV_RAW_ABI_H

#include <windows.h>

#include <cstdint>

// The lowest SDK version the plug-in accepts.
const uint32_t kHostSdkVersion = 0x10400;

// IDTVPlugin slots as the host calls them.
enum PluginSlot {
    kSlotDeletingDestructor = 0,
    kSlotSetHost = 1,
    kSlotCreatePluginWindow = 2,
    kSlotOnStreamData = 3,
    kSlotOnChannelChange = 4,
    kSlotOnHostEvent = 5,
};

typedef void*(__thiscall* DeletingDestructorSlot)(void* self, unsigned int flags);
typedef int32_t(__thiscall* SetHostSlot)(void* self, void* host, uint32_t sdkVersion);
typedef int32_t(__thiscall* CreatePluginWindowSlot)(void* self, HWND parent);
typedef int32_t(__thiscall* OnStreamDataSlot)(void* self, const uint8_t* packets, uint32_t count);
typedef int32_t(__thiscall* OnChannelChangeSlot)(void* self, int32_t channel, int32_t serviceId);
typedef int32_t(__thiscall* OnHostEventSlot)(void* self, int32_t a, int32_t b);

// The one export: the first argument is reserved, the object comes back
// through the second.
typedef int32_t(__cdecl* GetIface2Function)(void* reserved, void** out);

// IDTVHost: seven slots; the plug-in calls only these two.
enum HostSlot {
    kHostSlotTuneChannel = 1,
    kHostSlotPluginClosed = 6,
    kHostSlotCount = 7,
};

// The entry of a plug-in object's table at `index`.
inline void* PluginTableSlot(void* object, int index) {
    void** table = *static_cast<void***>(object);
    return table[index];
}

// A table entry as the function type of its slot.
template <typename Function>
Function SlotAs(void* slot) {
    return reinterpret_cast<Function>(slot);
}

#endif
