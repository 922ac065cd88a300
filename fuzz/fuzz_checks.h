// Invariants the fuzz targets check after every step, and the few helpers
// they share. A broken invariant prints what broke and aborts, so that
// libFuzzer keeps the input as a crash.
#ifndef KESTRIN_FUZZ_FUZZ_CHECKS_H
#define KESTRIN_FUZZ_FUZZ_CHECKS_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "plugin/guide_cache_format.h"
#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "plugin/recorder.h"
#include "plugin/section_handover.h"
#include "tests/support/fake_platform.h"
#include "ts/crc32.h"
#include "ts/packet.h"
#include "ts/programme_map.h"
#include "ts/section.h"
#include "text/event_details.h"
#include "ui/programme_display.h"
#include "ui/resource.h"

// Marks bytes that the code under test must not read (AddressSanitizer
// reports any access); a no-op without AddressSanitizer.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTRIN_FUZZ_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KESTRIN_FUZZ_ASAN 1
#endif
#ifdef KESTRIN_FUZZ_ASAN
#include <sanitizer/asan_interface.h>
#define POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define POISON(p, n) ((void)(p), (void)(n))
#define UNPOISON(p, n) ((void)(p), (void)(n))
#endif

#define FUZZ_CHECK(cond, ...)                                                   \
    do {                                                                        \
        if (!(cond)) {                                                          \
            std::fprintf(stderr, "invariant broken: %s (%s:%d): ", #cond,       \
                         __FILE__, __LINE__);                                   \
            std::fprintf(stderr, __VA_ARGS__);                                  \
            std::fprintf(stderr, "\n");                                         \
            std::abort();                                                       \
        }                                                                       \
    } while (0)

// Shift_JIS (code page 932) as the Win32 controls read it: a lead byte
// 0x81-0x9F or 0xE0-0xFC takes a trail byte 0x40-0x7E or 0x80-0xFC; single
// bytes are ASCII and the half-width katakana 0xA1-0xDF; 0x80, 0xA0 and
// 0xFD-0xFF stand for no character. A text is bad when it ends in a lead
// byte whose trail is missing (the half character a cut at the buffer's end
// leaves behind, which the control pairs with whatever follows) or when any
// byte forms no character (raw stream bytes that reached a text). With
// KESTRIN_FUZZ_LAX_SJIS set in the environment only the first is checked.
// Returns the offset of the first bad byte, or -1.
inline bool StrictShiftJis() {
    static const bool strict = std::getenv("KESTRIN_FUZZ_LAX_SJIS") == nullptr;
    return strict;
}

inline int32_t FindBadShiftJis(const char* text, size_t length) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    const bool strict = StrictShiftJis();
    size_t i = 0;
    while (i < length) {
        const uint8_t b = p[i];
        if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) {
            if (i + 1 >= length) return static_cast<int32_t>(i);
            const uint8_t t = p[i + 1];
            if (strict && (t < 0x40 || t == 0x7F || t > 0xFC)) return static_cast<int32_t>(i);
            i += 2;
        } else if (strict && (b == 0x80 || b == 0xA0 || b >= 0xFD)) {
            return static_cast<int32_t>(i);
        } else {
            i += 1;
        }
    }
    return -1;
}

// Prints the bytes around a bad one, for the report of a broken invariant.
inline void DumpAround(const char* text, size_t length, int32_t bad) {
    const size_t from = bad > 16 ? static_cast<size_t>(bad) - 16 : 0;
    const size_t to = static_cast<size_t>(bad) + 16 < length ? static_cast<size_t>(bad) + 16 : length;
    std::fprintf(stderr, "bytes %zu..%zu:", from, to);
    for (size_t i = from; i < to; ++i) {
        std::fprintf(stderr, " %02X", static_cast<unsigned>(static_cast<uint8_t>(text[i])));
    }
    std::fprintf(stderr, "\n");
}

inline void CheckShiftJis(const char* text, size_t length, const char* what) {
    const int32_t bad = FindBadShiftJis(text, length);
    if (bad >= 0) DumpAround(text, length, bad);
    FUZZ_CHECK(bad < 0, "%s: byte %d of %zu is not valid Shift_JIS", what, bad, length);
}

inline void CheckShiftJis(const std::string& text, const char* what) {
    CheckShiftJis(text.c_str(), text.size(), what);
}

// A text field of the state must hold its terminator within the field, and
// its text must be valid Shift_JIS.
inline size_t CheckTerminated(const char* field, size_t size, const char* what) {
    const void* nul = std::memchr(field, 0, size);
    FUZZ_CHECK(nul != nullptr, "%s has no terminator within its %zu bytes", what, size);
    return static_cast<size_t>(static_cast<const char*>(nul) - field);
}

inline void CheckTextField(const char* field, size_t size, const char* what) {
    CheckShiftJis(field, CheckTerminated(field, size, what), what);
}

// Watches a FakePlatform and a PluginState between steps. Keeps how far it
// has already looked into the histories and files so that a long run stays
// linear.
class InvariantChecker {
public:
    void Check(FakePlatform& platform, PluginState& state) {
        // The lock is free again whenever a call into the core has returned.
        FUZZ_CHECK(state.lock.try_lock(), "PluginState::lock still held after a call returned");
        state.lock.unlock();

        CheckTextField(state.presentText, sizeof state.presentText, "presentText");
        CheckTextField(state.followingText, sizeof state.followingText, "followingText");
        CheckTextField(state.serviceName, sizeof state.serviceName, "serviceName");
        CheckTextField(state.presentDescription, sizeof state.presentDescription, "presentDescription");
        CheckTextField(state.followingDescription, sizeof state.followingDescription, "followingDescription");
        // A path is in the system's ANSI code page, whatever bytes it holds.
        CheckTerminated(state.settingsPath, sizeof state.settingsPath, "settingsPath");
        FUZZ_CHECK(state.esPidTable.count >= 0 && state.esPidTable.count <= kEsPidCapacity,
                   "EsPidTable count %d", state.esPidTable.count);
        FUZZ_CHECK(state.view == View::kPresent || state.view == View::kFollowing, "view %d",
                   static_cast<int>(state.view));
        const SectionMailbox* boxes[] = {&state.presentMailbox, &state.followingMailbox,
                                         &state.sdtMailbox};
        for (const SectionMailbox* box : boxes) {
            FUZZ_CHECK(box->length >= 0 && box->length <= kMaxSectionSize, "mailbox length %d",
                       box->length);
        }

        // The caption view's texts and the caption mailbox.
        const CaptionStore& captions = state.captionReader.store;
        CheckTextField(captions.current, sizeof captions.current, "caption");
        FUZZ_CHECK(captions.lineCount >= 0 && captions.lineCount <= captions.lineLimit &&
                       captions.lineLimit <= kCaptionRecentLines,
                   "caption lines %d of %d", captions.lineCount, captions.lineLimit);
        for (int32_t i = 0; i < captions.lineCount; ++i) {
            const char* line = captions.lines[(captions.firstLine + i) % kCaptionRecentLines];
            CheckTextField(line, kCaptionLineSize, "caption line");
        }
        FUZZ_CHECK(state.captionHandover.mailbox.count >= 0 &&
                       state.captionHandover.mailbox.count <= kCaptionMailboxPackets,
                   "caption mailbox count %d", state.captionHandover.mailbox.count);

        // The guide: every index within its budget, every list within its
        // capacity, names terminated.
        const GuideStore& guide = state.guide;
        FUZZ_CHECK(guide.serviceCount >= 0 && guide.serviceCount <= guide.serviceCapacity, "guide services %d of %d",
                   guide.serviceCount, guide.serviceCapacity);
        FUZZ_CHECK(guide.watched >= -1 && guide.watched < guide.serviceCount, "watched entry %d", guide.watched);
        FUZZ_CHECK(guide.queue.count >= 0 && guide.queue.count <= kSectionQueueBytes / 16, "guide sections waiting %d",
                   guide.queue.count);
        // The hashed index holds exactly the entries in use, each once.
        int32_t indexed = 0;
        for (int32_t i = 0; i <= guide.serviceIndexMask; ++i) {
            const int32_t entry = guide.serviceIndex[i].entry;
            if (entry < 0) continue;
            ++indexed;
            FUZZ_CHECK(entry < guide.serviceCount, "indexed entry %d of %d", entry, guide.serviceCount);
        }
        FUZZ_CHECK(indexed == guide.serviceCount, "indexed %d of %d entries", indexed, guide.serviceCount);
        for (int32_t i = 0; i < guide.tableCount; ++i) {
            const GuideServiceTable& table = guide.tables[i];
            if (!table.ready) continue;
            FUZZ_CHECK(table.listCount >= 0 && table.listCount <= kScheduleEventsEightDays &&
                           table.listCount + table.freeCount == kScheduleEventsEightDays,
                       "guide list %d, free %d", table.listCount, table.freeCount);
            CheckTerminated(table.name, sizeof table.name, "guide service name");
        }

        // An open file is a wanted recording; the flag may stay 1 without a
        // file only after the close command.
        FUZZ_CHECK(state.recordingFile == kInvalidFileHandle || state.recording,
                   "recording file open with the recording flag 0");

        std::lock_guard<std::mutex> guard(platform.mutex);
        // Once the recorder has set its label, the label names the flag's
        // state, also after a failed write stopped the recording: as soon as
        // the window has handled the WM_RECORD_LABEL the packet path posted.
        std::map<int32_t, std::string>::const_iterator label =
            platform.controlTexts.find(IDC_ONESEG_RECORD);
        const bool labelOnItsWay = std::find(platform.windowQueue.begin(), platform.windowQueue.end(),
                                             WM_RECORD_LABEL) != platform.windowQueue.end();
        if (label != platform.controlTexts.end() && !labelOnItsWay) {
            const char* expected = state.recording ? "1\x81\xA1" : "1\x81\x9B";
            FUZZ_CHECK(label->second == expected, "recorder label does not match flag %d",
                       state.recording ? 1 : 0);
        }
        FUZZ_CHECK(platform.writesToClosedFile == 0, "%d writes to a closed file",
                   platform.writesToClosedFile);
        FUZZ_CHECK(platform.closeOfClosedFile == 0, "%d closes of a closed file",
                   platform.closeOfClosedFile);
        // The recorder owns at most one file, and it is the one the state names.
        if (state.recordingFile == kInvalidFileHandle) {
            FUZZ_CHECK(platform.openFiles.empty(), "%zu files open while none is recorded",
                       platform.openFiles.size());
        } else {
            FUZZ_CHECK(platform.openFiles.size() == 1 &&
                           platform.openFiles.count(state.recordingFile) == 1,
                       "recording file handle %ld is not the one open file",
                       static_cast<long>(state.recordingFile));
        }

        for (; controlsSeen_ < platform.controlHistory.size(); ++controlsSeen_) {
            const std::pair<int32_t, std::string>& c = platform.controlHistory[controlsSeen_];
            FUZZ_CHECK(c.second.size() < static_cast<size_t>(kEventTextSize),
                       "control %d text of %zu bytes", c.first, c.second.size());
            CheckShiftJis(c.second, "control text");
        }
        for (; titlesSeen_ < platform.titleHistory.size(); ++titlesSeen_) {
            CheckShiftJis(platform.titleHistory[titlesSeen_], "window title");
        }
        // Every change of the event text brings the tooltip of the same
        // event along, and a tooltip is only ever set on the event text.
        for (; infoTextsCounted_ < platform.controlHistory.size(); ++infoTextsCounted_) {
            if (platform.controlHistory[infoTextsCounted_].first == IDC_INFO_TEXT) ++infoTexts_;
        }
        FUZZ_CHECK(platform.toolTipHistory.size() == infoTexts_, "%zu tooltips for %zu event texts",
                   platform.toolTipHistory.size(), infoTexts_);
        for (; toolTipsSeen_ < platform.toolTipHistory.size(); ++toolTipsSeen_) {
            const std::pair<int32_t, std::string>& tip = platform.toolTipHistory[toolTipsSeen_];
            FUZZ_CHECK(tip.first == IDC_INFO_TEXT, "tooltip on control %d", tip.first);
            CheckToolTip(tip.second);
        }
        // The files the plug-in writes: the guide's cache file at the
        // places its keeper saves to, and its recordings, each checked as
        // what it is.
        const GuideCachePaths& cache = state.keeper.paths;
        for (std::map<std::string, std::vector<uint8_t>>::iterator it = platform.files.begin();
             it != platform.files.end(); ++it) {
            const bool cacheFile =
                state.keeper.pathsReady && (it->first == cache.besideSettings || it->first == cache.local);
            if (cacheFile) {
                CheckGuideCache(it->first, it->second);
            } else {
                CheckRecording(it->first, it->second);
            }
        }
    }

private:
    // A tooltip fits its buffer, is Shift_JIS, has no line longer than the
    // wrap width and neither starts nor ends with a line break.
    static void CheckToolTip(const std::string& tip) {
        FUZZ_CHECK(tip.size() < static_cast<size_t>(kTooltipTextSize), "tooltip of %zu bytes", tip.size());
        CheckShiftJis(tip, "tooltip");
        FUZZ_CHECK(tip.empty() || (tip.front() != '\r' && tip.back() != '\n'), "tooltip starts or ends with a break");
        size_t line = 0;
        for (size_t i = 0; i < tip.size(); ++i) {
            if (tip[i] == '\r' || tip[i] == '\n') {
                line = 0;
                continue;
            }
            ++line;
            FUZZ_CHECK(line <= static_cast<size_t>(kTooltipLineWidth), "tooltip line of more than %d bytes at %zu",
                       kTooltipLineWidth, i);
        }
    }

    // A recording holds whole packets only, never an EIT packet, and PAT
    // packets only in their rewritten single-programme form.
    void CheckRecording(const std::string& path, const std::vector<uint8_t>& file) {
        FUZZ_CHECK(file.size() % kTsPacketSize == 0, "%s holds %zu bytes, not whole packets",
                   path.c_str(), file.size());
        size_t& seen = filesSeen_[path];
        if (seen > file.size()) seen = 0;  // created afresh: truncated
        for (; seen + kTsPacketSize <= file.size(); seen += kTsPacketSize) {
            const uint8_t* p = &file[seen];
            const uint16_t pid = PacketPid(p);
            FUZZ_CHECK(pid != 0x0012, "EIT packet recorded at %zu", seen);
            if (pid != 0x0000) continue;
            FUZZ_CHECK(PacketHasPusi(p), "PAT packet without PUSI recorded at %zu", seen);
            const int32_t s = PacketSectionStart(p);
            FUZZ_CHECK(s >= 0 && s + 20 <= kTsPacketSize, "recorded PAT section starts at %d", s);
            FUZZ_CHECK(p[s] == 0x00 && SectionLength(p + s) == 17,
                       "recorded PAT not rewritten (table_id 0x%02X, section_length %d)", p[s],
                       SectionLength(p + s));
            FUZZ_CHECK(Crc32Mpeg2(p + s, 20) == 0, "recorded PAT has a wrong CRC_32");
        }
    }

    // The guide's cache file, written whole or not at all, loads back: the
    // cache's own scan reads it, a record at a time, to its end record with
    // the checksum right and nothing behind it. Checked again only when its
    // bytes changed.
    void CheckGuideCache(const std::string& path, const std::vector<uint8_t>& file) {
        std::vector<uint8_t>& last = cachesSeen_[path];
        if (!last.empty() && last == file) return;
        FUZZ_CHECK(!file.empty(), "%s is empty", path.c_str());
        GuideCacheScanner scanner;
        BeginGuideCacheScan(scanner);
        const uint8_t* at = file.data();
        int32_t left = static_cast<int32_t>(file.size());
        GuideCacheScan scan = GuideCacheScan::kRecord;
        while (scan == GuideCacheScan::kRecord) {
            int32_t used = 0;
            GuideCacheRecord record;
            scan = ScanGuideCacheRecord(scanner, at, left, &used, &record);
            FUZZ_CHECK(used >= 0 && used <= left, "%s: the scan used %d of %d bytes", path.c_str(), used, left);
            at += used;
            left -= used;
        }
        FUZZ_CHECK(scan == GuideCacheScan::kDone, "%s holds %zu bytes that do not load back (fault %d at byte %zu)",
                   path.c_str(), file.size(), static_cast<int>(scanner.fault), file.size() - static_cast<size_t>(left));
        FUZZ_CHECK(FinishGuideCacheScan(scanner, left) == GuideCacheFault::kNone, "%s: %d bytes after its end",
                   path.c_str(), left);
        last = file;
    }

    size_t controlsSeen_ = 0;
    size_t titlesSeen_ = 0;
    size_t infoTextsCounted_ = 0;
    size_t infoTexts_ = 0;
    size_t toolTipsSeen_ = 0;
    std::map<std::string, size_t> filesSeen_;
    std::map<std::string, std::vector<uint8_t>> cachesSeen_;
};

#endif
