#include "plugin/settings.h"

#include <cstdio>
#include <cstring>

#include "plugin/guide_store.h"
#include "plugin/plugin_state.h"

namespace {

const char kPositionSection[] = "POSITION";
const char kServiceSection[] = "SERVICE";
const char kDisplaySection[] = "DISPLAY";
const char kRecordingSection[] = "1Seg";
const char kGuideSection[] = "GUIDE";
const char kDefaultDirectory[] = "C:\\";

const int32_t kMaxLeft = 4000;
const int32_t kMaxTop = 3000;

// Room for "-2147483648" and the terminator.
const int32_t kNumberTextSize = 12;

// Every read goes through here: with no settings path (never built, or the
// executable's directory too long for one) the defaults apply and no file is
// touched.
int32_t ReadInt(PluginState& s, const char* section, const char* key, int32_t defaultValue) {
    if (s.settingsPath[0] == '\0') return defaultValue;
    return s.platform->ReadSettingInt(section, key, defaultValue, s.settingsPath);
}

void ReadString(PluginState& s, const char* section, const char* key, const char* defaultValue,
                char* out, uint32_t size) {
    if (size == 0) return;
    if (s.settingsPath[0] == '\0') {
        std::snprintf(out, size, "%s", defaultValue);
    } else {
        s.platform->ReadSettingString(section, key, defaultValue, out, size, s.settingsPath);
    }
    out[size - 1] = '\0';
}

void WriteInt(PluginState& s, const char* section, const char* key, int32_t value) {
    if (s.settingsPath[0] == '\0') return;
    char text[kNumberTextSize];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    s.platform->WriteSettingString(section, key, text, s.settingsPath);
}

// The settings file sits beside the host executable: its directory up to and
// including the last backslash, then "Kestrin.ini". Without a backslash the
// name is appended to the whole path. The path is left empty (no settings
// are read or written) when the platform reports the executable's path cut
// short by the 260-byte buffer, or when the settings path would not fit in
// one.
void BuildSettingsPath(PluginState& s) {
    s.settingsPath[0] = '\0';

    // Zero-filled, so the backward scan below never meets a stale byte past
    // the terminator.
    char exe[kPathSize];
    std::memset(exe, 0, sizeof exe);
    bool whole = false;
    const uint32_t length = s.platform->GetHostExecutablePath(exe, kPathSize, &whole);
    exe[kPathSize - 1] = '\0';
    // A cut at the last backslash of a truncated path would name some other
    // directory. A whole path of 259 characters fills the buffer exactly.
    if (!whole || length >= static_cast<uint32_t>(kPathSize) || exe[0] == '\0') return;

    // Index 0 is not examined: a lone leading backslash keeps the path whole.
    // exe[kPathSize - 1] is always the terminator, so the cut stays inside.
    for (int32_t i = kPathSize - 1; i >= 1; --i) {
        if (exe[i] == '\\') {
            exe[i + 1] = '\0';
            break;
        }
    }

    char path[kPathSize];
    const int written = std::snprintf(path, sizeof path, "%sKestrin.ini", exe);
    if (written < 0 || written >= kPathSize) return;
    std::memcpy(s.settingsPath, path, static_cast<size_t>(written) + 1);
}

}  // namespace

void LoadWindowSettings(PluginState& s) {
    BuildSettingsPath(s);

    int32_t left = ReadInt(s, kPositionSection, "Left", 0);
    int32_t top = ReadInt(s, kPositionSection, "Top", 0);
    // Only the upper bounds are corrected: a position far off a screen of the
    // time is reset; negative positions (monitors left of the primary) stay.
    if (left > kMaxLeft) left = 0;
    if (top > kMaxTop) top = 0;
    s.windowLeft = left;
    s.windowTop = top;

    s.templateChoice = ReadInt(s, kPositionSection, "Font", 0);
    s.symbolStyle = ReadInt(s, kDisplaySection, "Symbols", 0) == 1 ? SymbolStyle::kBracketed
                                                                  : SymbolStyle::kUserDefined;
    // The guide's budget: the state was built with the default one; another
    // is allocated now, before the window and before any section is held.
    ApplyGuideBudget(s, ReadInt(s, kGuideSection, "MemoryMB", kGuideDefaultMemoryMB));
}

void ReadChannelTable(PluginState& s, int32_t* table) {
    char key[8];
    for (int32_t i = 0; i < kChannelButtonCount; ++i) {
        std::snprintf(key, sizeof key, "CH%d", static_cast<int>(i + 1));
        table[i] = ReadInt(s, kServiceSection, key, 0);
    }
}

bool IsTunableChannel(int32_t channel) { return channel >= kLowestChannel && channel <= kHighestChannel; }

bool ModuleFileNameIsWhole(uint32_t length, uint32_t size, bool insufficientBuffer) {
    if (length == 0 || size == 0 || length >= size) return false;
    return !(length == size - 1 && insufficientBuffer);
}

void SaveWindowPosition(PluginState& s) {
    WindowPlacement placement;
    if (!s.platform->GetWindowPlacement(&placement)) return;
    int32_t left = 0;
    int32_t top = 0;
    if (!PositionToSave(placement, &left, &top)) return;
    s.windowLeft = left;
    s.windowTop = top;
    WriteInt(s, kPositionSection, "Left", left);
    WriteInt(s, kPositionSection, "Top", top);
}

void SaveTemplateChoice(PluginState& s) {
    WriteInt(s, kPositionSection, "Font", s.templateChoice);
}

void ReadRecordingSettings(PluginState& s, char* directory, uint32_t directorySize, char* fileName,
                           uint32_t fileNameSize) {
    ReadString(s, kRecordingSection, "Directory", kDefaultDirectory, directory, directorySize);
    ReadString(s, kRecordingSection, "Filename", "", fileName, fileNameSize);
}

int32_t ReadCaptionSettings(PluginState& s) {
    s.captionViewWanted = ReadInt(s, kDisplaySection, "Captions", 0) == 1;
    const int32_t lines = ReadInt(s, kDisplaySection, "CaptionLines", kCaptionRecentLines);
    return lines >= 1 && lines <= kCaptionRecentLines ? lines : kCaptionRecentLines;
}

void SaveCaptionViewShown(PluginState& s, bool shown) {
    WriteInt(s, kDisplaySection, "Captions", shown ? 1 : 0);
}
