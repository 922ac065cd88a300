// The settings file's values as the profile functions hand them over:
// arbitrary strings for every key, an executable path of any length, any
// current channel and local time; then the window's start-up reads
// (LoadSettingsBeforeWindow, LoadChannelTable), a window move, a recording
// start and stop (which read "Directory" and "Filename" and build the path),
// and the close command.
//
// Input: a sequence of strings, each a length byte and that many bytes; a
// length byte of 0xFF leaves that key out of the file (the default applies).
// In order: the executable path, "Left", "Top", "Font", "CH1".."CH12",
// "Directory", "Filename"; then the current channel (four bytes), and the
// local time (seven bytes).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_checks.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "plugin/settings.h"
#include "tests/support/test_plugin.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    uint8_t Next() { return p_ < end_ ? *p_++ : 0; }
    // A string, or false when the key is to be missing.
    bool String(std::string& out) {
        if (p_ == end_) return false;
        const uint8_t n = *p_++;
        if (n == 0xFF) return false;
        size_t take = n;
        if (take > static_cast<size_t>(end_ - p_)) take = static_cast<size_t>(end_ - p_);
        out.assign(reinterpret_cast<const char*>(p_), take);
        p_ += take;
        return true;
    }
    // A longer string for the executable path: the length byte counts in
    // steps of two, so paths up to 508 bytes are reachable.
    bool LongString(std::string& out) {
        if (p_ == end_) return false;
        const uint8_t n = *p_++;
        if (n == 0xFF) return false;
        size_t take = static_cast<size_t>(n) * 2;
        if (take > static_cast<size_t>(end_ - p_)) take = static_cast<size_t>(end_ - p_);
        out.assign(reinterpret_cast<const char*>(p_), take);
        p_ += take;
        return true;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

const char* const kKeys[] = {"POSITION/Left", "POSITION/Top", "POSITION/Font",
                             "SERVICE/CH1",   "SERVICE/CH2",  "SERVICE/CH3",
                             "SERVICE/CH4",   "SERVICE/CH5",  "SERVICE/CH6",
                             "SERVICE/CH7",   "SERVICE/CH8",  "SERVICE/CH9",
                             "SERVICE/CH10",  "SERVICE/CH11", "SERVICE/CH12",
                             "1Seg/Directory", "1Seg/Filename"};

void CheckRecordingPaths(FakePlatform& f) {
    for (const std::string& path : f.createdPaths) {
        FUZZ_CHECK(path.size() < static_cast<size_t>(kPathSize),
                   "recording path of %zu bytes", path.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TestPlugin t;
    FakePlatform& f = t.platform;
    PluginState& s = t.s();
    InvariantChecker checker;
    Reader in(data, size);

    std::string value;
    f.executablePath = in.LongString(value) ? value : std::string();
    for (const char* key : kKeys) {
        if (in.String(value)) f.settings[key] = value;
    }
    int32_t channel = in.Next();
    channel = (channel << 8) | in.Next();
    channel = (channel << 8) | in.Next();
    channel = static_cast<int32_t>((static_cast<uint32_t>(channel) << 8) | in.Next());
    // Local time as the platform gives it: SYSTEMTIME ranges.
    LocalTime lt;
    lt.year = 1601 + ((in.Next() << 8 | in.Next()) % (30827 - 1601 + 1));
    lt.month = 1 + in.Next() % 12;
    lt.day = 1 + in.Next() % 31;
    lt.hour = in.Next() % 24;
    lt.minute = in.Next() % 60;
    lt.second = in.Next() % 60;
    f.localTime = lt;

    const int32_t templateId = LoadSettingsBeforeWindow(s);
    FUZZ_CHECK(templateId == IDD_VIEWER_HGP || templateId == IDD_VIEWER_MS ||
                   templateId == IDD_VIEWER_DF,
               "template %d", templateId);
    FUZZ_CHECK(s.windowLeft <= 4000 && s.windowTop <= 3000, "window at %d, %d", s.windowLeft,
               s.windowTop);
    checker.Check(f, s);
    LoadChannelTable(s);
    ViewerInitialised(s);
    checker.Check(f, s);

    PluginOnChannelChange(s, channel, 0x0400);
    checker.Check(f, s);
    f.windowLeft = channel;
    f.windowTop = static_cast<int32_t>(0u - static_cast<uint32_t>(channel));
    ViewerMoved(s);
    checker.Check(f, s);

    ViewerCommand(s, IDC_ONESEG_RECORD);  // start: reads the recording settings
    checker.Check(f, s);
    CheckRecordingPaths(f);
    ViewerCommand(s, IDC_ONESEG_RECORD);  // stop
    checker.Check(f, s);
    for (int32_t i = 0; i < kChannelButtonCount; ++i) ViewerCommand(s, kChannelButtonIds[i]);
    for (int32_t tuned : f.tuned) {
        FUZZ_CHECK(tuned >= 13 && tuned <= 62, "asked the host to tune to %d", tuned);
    }
    ViewerCommand(s, IDC_ONESEG_RECORD);  // start again, then close the window
    ViewerCommand(s, IDC_CLOSE);
    checker.Check(f, s);
    CheckRecordingPaths(f);
    return 0;
}
