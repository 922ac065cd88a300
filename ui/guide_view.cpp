#include "ui/guide_view.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "plugin/guide_store.h"
#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "plugin/window_position.h"
#include "text/arib_decoder.h"
#include "text/eit_event.h"
#include "text/eit_schedule.h"
#include "text/event_details.h"
#include "text/genre_table.h"
#include "ts/calendar.h"
#include "ui/resource.h"

namespace {

const char kGuideSection[] = "GUIDE";
// As the following view's request: this many seconds before the start,
// the duration plus a minute, three hours when it is not known.
const int64_t kStartLeadSeconds = 11;
const uint32_t kUnknownLengthMinutes = 180;
const int64_t kLongestWait = 0xFFFF;
// The details text: title, time, description and the tooltip's text.
const int32_t kDetailsSize = 8192;

// Shift_JIS texts.
const char kRequest[] = "\x98\x5E\x89\xE6\x97\x5C\x96\xF1";  // 録画予約
const char kRequestUndetermined[] =                          // 録画予約（開始時刻未定）
    "\x98\x5E\x89\xE6\x97\x5C\x96\xF1\x81\x69\x8A\x4A\x8E\x6E\x8E\x9E\x8D\x8F\x96\xA2\x92\xE8\x81\x6A";
const char kRequestTooFar[] =  // 録画予約（開始まで65,535秒超）
    "\x98\x5E\x89\xE6\x97\x5C\x96\xF1\x81\x69\x8A\x4A\x8E\x6E\x82\xDC\x82\xC5"
    "65,535\x95\x62\x92\xB4\x81\x6A";
const char kRequestNoClock[] =  // 録画予約（時刻未受信）
    "\x98\x5E\x89\xE6\x97\x5C\x96\xF1\x81\x69\x8E\x9E\x8D\x8F\x96\xA2\x8E\xF3\x90\x4D\x81\x6A";
const char kRequestEnded[] =  // 録画予約（放送終了）
    "\x98\x5E\x89\xE6\x97\x5C\x96\xF1\x81\x69\x95\xFA\x91\x97\x8F\x49\x97\xB9\x81\x6A";
const char kGenreHeading[] = "\x83\x57\x83\x83\x83\x93\x83\x8B\x81\x46";  // ジャンル：
const char kUndetermined[] = "\x96\xA2\x92\xE8";  // 未定
// 日 月 火 水 木 金 土, two bytes each.
const char kWeekdays[] = "\x93\xFA\x8C\x8E\x89\xCE\x90\x85\x96\xD8\x8B\xE0\x93\x79";

int32_t Terminate(char* out, int32_t capacity, int n) {
    if (n < 0) n = 0;
    if (n >= capacity) n = capacity - 1;
    out[n] = '\0';
    return n;
}

// "12/08(火)" or 未定.
int32_t DateText(const ScheduleEventRef& e, char* out, int32_t capacity) {
    if (!e.startDetermined) return Terminate(out, capacity, std::snprintf(out, static_cast<size_t>(capacity), "%s", kUndetermined));
    const CivilDate d = CivilDateOfDay(DayOfJapanSeconds(e.start));
    return Terminate(out, capacity,
                     std::snprintf(out, static_cast<size_t>(capacity), "%02d/%02d(%.2s)", d.month, d.day,
                                   kWeekdays + 2 * d.weekday));
}

// "22:00-22:45", "22:00-未定", 未定.
int32_t TimeText(const ScheduleEventRef& e, char* out, int32_t capacity) {
    if (!e.startDetermined) return Terminate(out, capacity, std::snprintf(out, static_cast<size_t>(capacity), "%s", kUndetermined));
    const int32_t s = SecondOfDay(e.start);
    if (!e.durationDetermined) {
        return Terminate(out, capacity,
                         std::snprintf(out, static_cast<size_t>(capacity), "%02d:%02d-%s", s / 3600, s / 60 % 60,
                                       kUndetermined));
    }
    const int32_t end = SecondOfDay(e.start + e.duration);
    return Terminate(out, capacity,
                     std::snprintf(out, static_cast<size_t>(capacity), "%02d:%02d-%02d:%02d", s / 3600, s / 60 % 60,
                                   end / 3600, end / 60 % 60));
}

// The ref of a row, copied so that a list refreshed later cannot move it.
bool RowRef(PluginState& s, int32_t row, ScheduleEventRef& ref) { return GuideRow(s.guide, row, ref); }

int64_t Now(PluginState& s) {
    std::lock_guard<std::mutex> guard(s.lock);
    return BroadcastNow(s);
}

// The details pane and the button for the selected row.
void ShowSelection(PluginState& s) {
    GuideStore& g = s.guide;
    ScheduleEventRef ref;
    static const char kEmpty[] = "";
    if (!RowRef(s, g.selectedRow, ref)) {
        s.platform->SetGuideControlText(IDC_GUIDE_DETAILS, kEmpty);
        s.platform->SetGuideControlText(IDC_GUIDE_REQUEST, GuideRequestLabel(GuideRequestStatus::kNoSelection));
        s.platform->EnableGuideControl(IDC_GUIDE_REQUEST, false);
        return;
    }
    // Large: one on the window thread's stack per selection.
    EitEventRecord record;
    EventDetails details;
    char text[kDetailsSize];
    int32_t n = 0;
    if (ReadGuideEvent(g, ref, record)) {
        char title[512];
        char description[512];
        char date[32];
        char time[32];
        DecodeAribText(title, record.name, record.nameSize, sizeof title, SymbolStyle::kBracketed);
        DecodeAribText(description, record.text, record.textSize, sizeof description, SymbolStyle::kBracketed);
        DateText(ref, date, sizeof date);
        TimeText(ref, time, sizeof time);
        n = Terminate(text, kDetailsSize,
                      std::snprintf(text, sizeof text, "\x81\x79%s\x81\x7A\r\n%s %s\r\n%s", title, date, time,
                                    description));
        EitEventDetails(record, SymbolStyle::kBracketed, details);
        if (HasEventDetails(details) && n + 4 < kDetailsSize) {
            std::memcpy(text + n, "\r\n\r\n", 4);
            n += 4;
            FormatEventDetailsTooltip(text + n, kDetailsSize - n, details, nullptr, false);
        }
    } else {
        text[0] = '\0';
    }
    s.platform->SetGuideControlText(IDC_GUIDE_DETAILS, text);
    uint32_t word = 0;
    const GuideRequestStatus status = ComputeGuideRequest(ref, Now(s), word);
    s.platform->SetGuideControlText(IDC_GUIDE_REQUEST, GuideRequestLabel(status));
    s.platform->EnableGuideControl(IDC_GUIDE_REQUEST, status == GuideRequestStatus::kRequestable);
}

// The list after a change: the selection follows its programme.
void Refresh(PluginState& s) {
    GuideStore& g = s.guide;
    g.shownRevision = g.revision;
    g.selectedRow = GuideRowOfEvent(g, g.selectedEventId);
    if (g.selectedRow < 0) g.selectedEventId = -1;
    s.platform->SetGuideRows(g.listCount, g.selectedRow);
    ShowSelection(s);
}

}  // namespace

GuideRequestStatus ComputeGuideRequest(const ScheduleEventRef& e, int64_t now, uint32_t& word) {
    if (!e.startDetermined) return GuideRequestStatus::kStartUndetermined;
    if (now < 0) return GuideRequestStatus::kNoClock;
    const int64_t until = e.start - now;
    if (until > kLongestWait) return GuideRequestStatus::kTooFarAhead;
    if (e.durationDetermined && e.start + e.duration <= now) return GuideRequestStatus::kEnded;
    if (until <= 0) {
        // On air: asked for as the present view asks for it, the minutes
        // until it ends, rounded up (three hours when the end is unknown),
        // never its whole duration, which would run into the next programme.
        uint32_t minutes = kUnknownLengthMinutes;
        if (e.durationDetermined) {
            const int64_t remaining = e.start + e.duration - now;
            minutes = static_cast<uint32_t>(remaining / 60 + (remaining % 60 != 0 ? 1 : 0)) & 0xFFFFu;
        }
        word = minutes;
        return GuideRequestStatus::kRequestable;
    }
    int64_t delay = until - kStartLeadSeconds;
    if (delay < 0) delay = 0;
    const uint32_t minutes =
        e.durationDetermined ? static_cast<uint32_t>(e.duration / 60 + 1) & 0xFFFFu : kUnknownLengthMinutes;
    word = (static_cast<uint32_t>(delay) << 16) | minutes;
    return GuideRequestStatus::kRequestable;
}

const char* GuideRequestLabel(GuideRequestStatus status) {
    switch (status) {
        case GuideRequestStatus::kStartUndetermined:
            return kRequestUndetermined;
        case GuideRequestStatus::kTooFarAhead:
            return kRequestTooFar;
        case GuideRequestStatus::kNoClock:
            return kRequestNoClock;
        case GuideRequestStatus::kEnded:
            return kRequestEnded;
        case GuideRequestStatus::kRequestable:
        case GuideRequestStatus::kNoSelection:
            break;
    }
    return kRequest;
}

void OpenGuide(PluginState& s) { s.platform->OpenGuideWindow(); }

void GuidePosition(PluginState& s, int32_t& left, int32_t& top) {
    left = s.platform->ReadSettingInt(kGuideSection, "Left", 0, s.settingsPath);
    top = s.platform->ReadSettingInt(kGuideSection, "Top", 0, s.settingsPath);
}

void GuideInitialised(PluginState& s) {
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.guide.windowShown = true;
        // The viewer's present/following come again from their next repeat.
        s.guide.lastPfKey[0] = s.guide.lastPfKey[1] = 0;
    }
    // What waits now, whether or not its message is on the way.
    TakeGuideSections(s);
    s.guide.windowOpen = true;
    Refresh(s);
}

void GuideMoved(PluginState& s, const WindowPlacement& placement) {
    // Moves before WM_INITDIALOG place the window where the file says.
    if (!s.guide.windowOpen || s.settingsPath[0] == '\0') return;
    int32_t left = 0;
    int32_t top = 0;
    if (!PositionToSave(placement, &left, &top)) return;
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(left));
    s.platform->WriteSettingString(kGuideSection, "Left", text, s.settingsPath);
    std::snprintf(text, sizeof text, "%d", static_cast<int>(top));
    s.platform->WriteSettingString(kGuideSection, "Top", text, s.settingsPath);
}

void GuideClosed(PluginState& s) {
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.guide.windowShown = false;
    }
    s.guide.windowOpen = false;
    s.guide.selectedRow = -1;
    s.guide.selectedEventId = -1;
}

void HandleGuideSections(PluginState& s) {
    TakeGuideSections(s);
    if (s.guide.windowOpen && s.guide.revision != s.guide.shownRevision) Refresh(s);
}

int32_t GuideRowText(PluginState& s, int32_t row, int32_t column, char* out, int32_t capacity) {
    if (capacity <= 0) return 0;
    out[0] = '\0';
    ScheduleEventRef ref;
    if (!RowRef(s, row, ref)) return 0;
    switch (column) {
        case 0:
            return DateText(ref, out, capacity);
        case 1:
            return TimeText(ref, out, capacity);
        default:
            break;
    }
    EitEventRecord record;
    const EitScheduleService* schedule = GuideServiceSchedule(s.guide, GuideWatchedService(s.guide));
    if (schedule == nullptr || !ReadScheduleEvent(*schedule, ref, record)) return 0;
    if (column == 2) {
        return DecodeAribText(out, record.name, record.nameSize, capacity, SymbolStyle::kBracketed);
    }
    if (column == 3 && record.genreCount > 0) {
        // The tooltip's genre line without its heading ジャンル：.
        const EitGenre& genre = record.genres[0];
        char line[kGenreLineSize];
        const int32_t n = FormatGenreLine(line, kGenreLineSize, static_cast<uint8_t>((genre.level1 << 4) | genre.level2));
        const int32_t heading = static_cast<int32_t>(sizeof kGenreHeading) - 1;
        if (n <= heading || std::memcmp(line, kGenreHeading, static_cast<size_t>(heading)) != 0) return 0;
        return Terminate(out, capacity, std::snprintf(out, static_cast<size_t>(capacity), "%s", line + heading));
    }
    return 0;
}

void GuideRowSelected(PluginState& s, int32_t row) {
    GuideStore& g = s.guide;
    ScheduleEventRef ref;
    if (RowRef(s, row, ref)) {
        g.selectedRow = row;
        g.selectedEventId = ref.eventId;
    } else {
        g.selectedRow = -1;
        g.selectedEventId = -1;
    }
    ShowSelection(s);
}

void GuideRequestPressed(PluginState& s) {
    ScheduleEventRef ref;
    if (!RowRef(s, s.guide.selectedRow, ref)) return;
    uint32_t word = 0;
    if (ComputeGuideRequest(ref, Now(s), word) != GuideRequestStatus::kRequestable) return;
    s.platform->PostToOwner(WM_RECORD_REQUEST, word);
}
