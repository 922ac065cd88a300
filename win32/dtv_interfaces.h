// The host's binary interfaces: the plug-in object the host drives
// (IDTVPlugin) and the host's callback object (IDTVHost).
//
// The host is a 32-bit program built with MSVC, so both tables follow MSVC's
// layout: one slot per virtual function in declaration order, every slot
// __thiscall (object in ECX, arguments on the stack, callee pops). MSVC gives
// a virtual destructor ONE slot, the "scalar deleting destructor", which
// takes a flags word (bit 0: free the memory) and returns the object's
// address. GCC would give a virtual destructor two slots (complete and
// deleting), which would move every operation down by one, so under GCC the
// first slot is declared as an ordinary virtual function of that shape.
#ifndef KESTRIN_WIN32_DTV_INTERFACES_H
#define KESTRIN_WIN32_DTV_INTERFACES_H

#include <windows.h>

#include <cstdint>

// The host's callbacks. Only slots 1 and 6 are used; the others are declared
// to keep those two at their places and are never called.
class IDTVHost {
public:
    virtual int32_t __thiscall Reserved0() = 0;
    virtual int32_t __thiscall TuneChannel(int32_t channel) = 0;  // slot 1
    virtual int32_t __thiscall Reserved2() = 0;
    virtual int32_t __thiscall Reserved3() = 0;
    virtual int32_t __thiscall Reserved4() = 0;
    virtual int32_t __thiscall Reserved5() = 0;
    virtual int32_t __thiscall PluginClosed() = 0;  // slot 6

protected:
    ~IDTVHost() {}
};

class IDTVPlugin {
public:
#ifdef _MSC_VER
    // Slot 0: MSVC emits the scalar deleting destructor here.
    virtual ~IDTVPlugin() {}
#else
    // Slot 0, as an MSVC host calls `delete plugin`: flags bit 0 set means
    // free the memory as well. Returns the object's address.
    virtual void* __thiscall DeletingDestructor(unsigned int flags) = 0;
#endif
    virtual int32_t __thiscall SetHost(IDTVHost* host, uint32_t sdkVersion) = 0;       // 1
    virtual int32_t __thiscall CreatePluginWindow(HWND parent) = 0;                    // 2
    virtual int32_t __thiscall OnStreamData(const uint8_t* packets, uint32_t count) = 0;  // 3
    virtual int32_t __thiscall OnChannelChange(int32_t channel, int32_t serviceId) = 0;  // 4
    virtual int32_t __thiscall OnHostEvent(int32_t a, int32_t b) = 0;                  // 5

#ifndef _MSC_VER
protected:
    // Never deleted through this type except by slot 0.
    ~IDTVPlugin() {}
#endif
};

#endif
