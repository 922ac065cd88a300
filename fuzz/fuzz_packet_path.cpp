// The whole packet path as the host drives it: buffers of any size (partial
// packets included) through RoutePackets, the posted messages handled as the
// window would, interleaved with service changes, view switches, recording
// toggles, recording requests, channel buttons, failing writes and the close
// command. The invariants of fuzz_checks.h are checked after every step.
//
// Input layout:
//   byte 0               n, the number of script bytes that follow
//   bytes 1 .. n         the script (see RunScript)
//   bytes n + 1 ..       the transport stream, fed in the chunks the script asks for
// A script that runs out feeds the rest of the stream in one buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_checks.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "plugin/router.h"
#include "plugin/settings.h"
#include "tests/support/test_plugin.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

// Service ids the script can pick with one byte: none yet, the test
// multiplex's services, the real one-segment services of the Tokyo packets,
// the one-segment service of kestrin-gen's sample, and two odd values.
const int32_t kServices[] = {0, 0x0400, 0x0408, 0x5DB8, 0x5DB9, 0x0588, 0xFFFF, -1};
const int32_t kServiceCount = sizeof kServices / sizeof kServices[0];

class Script {
public:
    Script(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool Done() const { return p_ == end_; }
    uint8_t Next() { return p_ < end_ ? *p_++ : 0; }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

struct Harness {
    TestPlugin t;
    InvariantChecker checker;

    Harness() {
        FakePlatform& f = t.platform;
        f.executablePath = "C:\\Host\\host.exe";
        f.settings["SERVICE/CH1"] = "27";
        f.settings["SERVICE/CH2"] = "27";
        f.settings["SERVICE/CH3"] = "13";
        f.settings["SERVICE/CH4"] = "63";
        f.settings["1Seg/Directory"] = "D:\\rec";
        // The caption view open: the caption selection, hand-over and
        // reading run on every input too.
        f.settings["DISPLAY/Captions"] = "1";
        LoadSettingsBeforeWindow(t.s());
        LoadChannelTable(t.s());
        ViewerInitialised(t.s());
    }

    void Check() { checker.Check(t.platform, t.s()); }

    // One host buffer, in a heap block of exactly its size so that
    // AddressSanitizer sees any read past its end.
    void Feed(const uint8_t* bytes, size_t size) {
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[size == 0 ? 1 : size]);
        if (size != 0) std::memcpy(buffer.get(), bytes, size);
        ViewerStreamData(t.s(), size == 0 ? nullptr : buffer.get(), static_cast<uint32_t>(size));
    }
};

// Script operations, by the low four bits of a script byte:
//   0-7   feed the next (c >> 4) * 256 + next byte bytes of the stream;
//         bit 2 set: leave the posted messages waiting (the window lags)
//   8     OnChannelChange(next byte as channel, service from the next byte)
//   9     IDC_PRESENT_FOLLOWING
//   10    IDC_ONESEG_RECORD
//   11    IDC_RECORD_REQUEST
//   12    make a write fail soon: the (next byte & 0x7F)-th write from now;
//         bit 7 of that byte: that write and every later one
//   13    a channel button (next byte picks which)
//   14    handle the waiting messages
//   15    next byte odd: the close command; even: the window moved
void RunScript(Harness& h, Script& script, const uint8_t* stream, size_t streamSize) {
    size_t fed = 0;
    PluginState& s = h.t.s();
    FakePlatform& f = h.t.platform;
    while (!script.Done()) {
        const uint8_t c = script.Next();
        switch (c & 0x0F) {
            case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 7: {
                size_t n = (static_cast<size_t>(c >> 4) << 8) | script.Next();
                if (n > streamSize - fed) n = streamSize - fed;
                h.Feed(stream + fed, n);
                fed += n;
                if ((c & 0x04) == 0) f.Pump(s);
                break;
            }
            case 8: {
                const int32_t channel = script.Next();
                const uint8_t pick = script.Next();
                const int32_t service = pick < 0x80 ? kServices[pick % kServiceCount]
                                                    : ((pick & 0x7F) << 8) | script.Next();
                PluginOnChannelChange(s, channel, service);
                break;
            }
            case 9:
                ViewerCommand(s, IDC_PRESENT_FOLLOWING);
                break;
            case 10:
                ViewerCommand(s, IDC_ONESEG_RECORD);
                break;
            case 11:
                ViewerCommand(s, IDC_RECORD_REQUEST);
                break;
            case 12: {
                const uint8_t b = script.Next();
                std::lock_guard<std::mutex> guard(f.mutex);
                f.failWriteAt = f.writeCalls + 1 + (b & 0x7F);
                f.failWritesFrom = (b & 0x80) != 0;
                break;
            }
            case 13:
                ViewerCommand(s, kChannelButtonIds[script.Next() % kChannelButtonCount]);
                break;
            case 14:
                f.Pump(s);
                break;
            case 15:
                if (script.Next() & 1) {
                    ViewerCommand(s, IDC_CLOSE);
                } else {
                    f.windowLeft = 5000;  // beyond the clamp: stored, not trusted
                    ViewerMoved(s);
                }
                break;
        }
        h.Check();
    }
    h.Feed(stream + fed, streamSize - fed);
    f.Pump(s);
    h.Check();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t scriptSize = data[0];
    if (scriptSize > size - 1) scriptSize = size - 1;
    Harness h;
    h.Check();
    Script script(data + 1, scriptSize);
    RunScript(h, script, data + 1 + scriptSize, size - 1 - scriptSize);
    return 0;
}
