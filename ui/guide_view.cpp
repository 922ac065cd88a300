#include "ui/guide_view.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "plugin/guide_keeper.h"
#include "plugin/guide_store.h"
#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "plugin/window_position.h"
#include "text/arib_decoder.h"
#include "text/eit_event.h"
#include "text/eit_schedule.h"
#include "text/event_details.h"
#include "text/shift_jis_text.h"
#include "ts/calendar.h"
#include "plugin/settings.h"
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
const char kRequestOtherService[] =  // 録画予約（視聴中のサービスのみ）
    "\x98\x5E\x89\xE6\x97\x5C\x96\xF1\x81\x69\x8E\x8B\x92\xAE\x92\x86\x82\xCC\x83\x54\x81\x5B\x83\x72\x83\x58"
    "\x82\xCC\x82\xDD\x81\x6A";
// The status line after a request: what was asked, or why nothing was.
const char kRequested[] =  // 録画を依頼しました：
    "\x98\x5E\x89\xE6\x82\xF0\x88\xCB\x97\x8A\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x46";
const char kFullWidthSpace[] = "\x81\x40";
const char kFrom[] = "\x82\xA9\x82\xE7";                                        // から
const char kMinutes[] = "\x95\xAA";                                              // 分
const char kLengthUndetermined[] = "\x81\x69\x92\xB7\x82\xB3\x96\xA2\x92\xE8\x81\x6A";  // （長さ未定）
const char kWhyTooFar[] =  // 開始の約18時間前から予約できます
    "\x8A\x4A\x8E\x6E\x82\xCC\x96\xF1"
    "18\x8E\x9E\x8A\xD4\x91\x4F\x82\xA9\x82\xE7\x97\x5C\x96\xF1\x82\xC5\x82\xAB\x82\xDC\x82\xB7";
const char kWhyEnded[] =  // この番組は終了しています
    "\x82\xB1\x82\xCC\x94\xD4\x91\x67\x82\xCD\x8F\x49\x97\xB9\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB7";
const char kWhyUndetermined[] =  // 開始時刻が未定のため予約できません
    "\x8A\x4A\x8E\x6E\x8E\x9E\x8D\x8F\x82\xAA\x96\xA2\x92\xE8\x82\xCC\x82\xBD\x82\xDF\x97\x5C\x96\xF1"
    "\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1";
const char kWhyNoClock[] =  // 放送の時刻を受信するまでお待ちください
    "\x95\xFA\x91\x97\x82\xCC\x8E\x9E\x8D\x8F\x82\xF0\x8E\xF3\x90\x4D\x82\xB7\x82\xE9\x82\xDC\x82\xC5"
    "\x82\xA8\x91\xD2\x82\xBF\x82\xAD\x82\xBE\x82\xB3\x82\xA2";
const char kWhyOtherService[] =  // 視聴中のサービスの番組だけを予約できます
    "\x8E\x8B\x92\xAE\x92\x86\x82\xCC\x83\x54\x81\x5B\x83\x72\x83\x58\x82\xCC\x94\xD4\x91\x67\x82\xBE"
    "\x82\xAF\x82\xF0\x97\x5C\x96\xF1\x82\xC5\x82\xAB\x82\xDC\x82\xB7";
// The title's share of the confirmation: the rest (about 50 bytes) always
// fits the status line beside it.
const int32_t kRequestedTitleSize = 72;
// The largest size kept for the window, in pixels: anything larger is not
// a window's.
const int32_t kLargestSize = 16384;
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

int64_t Now(PluginState& s) {
    std::lock_guard<std::mutex> guard(s.lock);
    return BroadcastNow(s);
}

GuideViewState* ViewOf(PluginState& s) { return s.platform->GuideView(); }

// The selected programme, its column's index brought up to date.
bool SelectedEvent(const GuideViewState& v, ScheduleEventRef& ref) {
    return v.selection.column >= 0 && GuideColumnEvent(v.columns, v.selection.column, v.selection.index, ref) &&
           ref.eventId == v.selection.id;
}

void RememberSelection(GuideViewState& v) {
    if (v.selection.column < 0 || v.selection.column >= v.columns.count) {
        v.selection = kNoGridSelection;
        return;
    }
    const GuideColumn& c = v.columns.column[v.selection.column];
    v.selectedNetwork = c.networkId;
    v.selectedStream = c.transportStreamId;
    v.selectedService = c.serviceId;
}

// The status line's reason for a refusal, null when there is none to give.
const char* RefusalText(GuideRequestStatus status) {
    switch (status) {
        case GuideRequestStatus::kStartUndetermined:
            return kWhyUndetermined;
        case GuideRequestStatus::kTooFarAhead:
            return kWhyTooFar;
        case GuideRequestStatus::kNoClock:
            return kWhyNoClock;
        case GuideRequestStatus::kEnded:
            return kWhyEnded;
        case GuideRequestStatus::kOtherService:
            return kWhyOtherService;
        case GuideRequestStatus::kRequestable:
        case GuideRequestStatus::kNoSelection:
            break;
    }
    return nullptr;
}

// The status of the selection's request, `ref` its programme.
GuideRequestStatus SelectionRequest(PluginState& s, const GuideViewState& v, const ScheduleEventRef& ref,
                                    uint32_t& word) {
    return v.columns.column[v.selection.column].watched ? ComputeGuideRequest(ref, Now(s), word)
                                                        : GuideRequestStatus::kOtherService;
}

// "録画を依頼しました：<title>　12/08(火) 22:00から45分": the programme as the
// viewer knows it, its start and its length rounded up to the minute.
void RequestedText(const GuideViewState& v, const ScheduleEventRef& ref, char* out, int32_t capacity) {
    // Large: on the window thread's stack for one request.
    EitEventRecord record;
    char decoded[512];
    char title[kRequestedTitleSize];
    decoded[0] = '\0';
    if (ReadGuideColumnEvent(v.columns, v.selection.column, ref, record, false)) {
        DecodeAribText(decoded, record.name, record.nameSize, sizeof decoded, SymbolStyle::kBracketed);
    }
    CopyShiftJisBounded(title, kRequestedTitleSize, decoded);
    char date[32];
    DateText(ref, date, sizeof date);
    const int32_t start = SecondOfDay(ref.start);
    char length[32];
    if (ref.durationDetermined) {
        std::snprintf(length, sizeof length, "%d%s", static_cast<int>((ref.duration + 59) / 60), kMinutes);
    } else {
        std::snprintf(length, sizeof length, "%s", kLengthUndetermined);
    }
    Terminate(out, capacity,
              std::snprintf(out, static_cast<size_t>(capacity), "%s%s%s%s %02d:%02d%s%s", kRequested, title,
                            kFullWidthSpace, date, start / 3600, start / 60 % 60, kFrom, length));
}

// The details pane and the button for the selection.
void ShowSelection(PluginState& s, GuideViewState& v) {
    ScheduleEventRef ref;
    static const char kEmpty[] = "";
    if (!SelectedEvent(v, ref)) {
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
    if (ReadGuideColumnEvent(v.columns, v.selection.column, ref, record, true)) {
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
    const GuideRequestStatus status = SelectionRequest(s, v, ref, word);
    s.platform->SetGuideControlText(IDC_GUIDE_REQUEST, GuideRequestLabel(status));
    s.platform->EnableGuideControl(IDC_GUIDE_REQUEST, status == GuideRequestStatus::kRequestable);
}

// A programme the viewer has just chosen: when it cannot be requested, the
// status line says why (the button's label only names the refusal).
void ExplainSelectedRefusal(PluginState& s, GuideViewState& v) {
    ScheduleEventRef ref;
    if (!SelectedEvent(v, ref)) return;
    uint32_t word = 0;
    const char* why = RefusalText(SelectionRequest(s, v, ref, word));
    if (why != nullptr) {
        GuideStatusText(s, why);
        return;
    }
    // The reason given for the programme chosen before is not this one's;
    // any other status (the saved guide's) stays.
    const GuideRequestStatus refusals[] = {GuideRequestStatus::kStartUndetermined, GuideRequestStatus::kTooFarAhead,
                                           GuideRequestStatus::kNoClock, GuideRequestStatus::kEnded,
                                           GuideRequestStatus::kOtherService};
    for (const GuideRequestStatus refusal : refusals) {
        if (std::strcmp(v.status, RefusalText(refusal)) == 0) {
            GuideStatusText(s, "");
            return;
        }
    }
}

bool DayHeld(const GridDays& days, int64_t day) {
    for (int32_t i = 0; i < days.count && i < kGridMaxDays; ++i) {
        if (days.start[i] == day) return true;
    }
    return false;
}

// The columns and days as the store holds them now; the selection follows
// its programme (by service and event id), the day shown stays one held.
// Returns true when the selection moved or was lost.
bool Follow(PluginState& s, GuideViewState& v) {
    FillGuideColumns(s, v.columns);
    const GridSource source = GuideGridSource(v.columns);
    const int64_t now = v.columns.now;
    GridHeldDays(source, now, v.days);
    if (v.days.count > 0 && (!v.placed || !DayHeld(v.days, v.viewport.dayStart))) {
        const int64_t today = now >= 0 ? GridDayOf(now) : -1;
        v.viewport.dayStart = now >= 0 && DayHeld(v.days, today) ? today : v.days.start[0];
        if (!v.placed) {
            // The first time: from an hour before the clock, or from the
            // first programme of the day.
            GridSelection first = kNoGridSelection;
            if (now >= 0) {
                v.viewport.firstMinute = SecondOfDay(now) / 60 - 60;
            } else if (GridProgrammeAt(source, 0, v.viewport.dayStart, first)) {
                ShowGridSelection(source, v.viewport, first);
            }
            ClampGridView(source, v.viewport);
            v.placed = true;
        }
    }
    const GridSelection before = v.selection;
    if (v.selection.column >= 0) {
        const int32_t column = GuideColumnOf(v.columns, v.selectedNetwork, v.selectedStream, v.selectedService);
        const int32_t index = column < 0 ? -1 : GuideColumnIndexOfEvent(v.columns, column, v.selection.id);
        if (index < 0) {
            v.selection = kNoGridSelection;
        } else {
            v.selection.column = column;
            v.selection.index = index;
        }
    }
    return before.column != v.selection.column || before.index != v.selection.index;
}

// After a change of the store: the selection follows, the details when
// they may have changed, the window redraws.
void Refresh(PluginState& s, GuideViewState& v, bool force) {
    const bool moved = Follow(s, v);
    const uint32_t revision = GuideColumnsRevision(s);
    if (!force && !moved && revision == v.shownRevision) return;
    v.shownRevision = revision;
    ShowSelection(s, v);
    s.platform->RedrawGuide();
}

void SaveInt(PluginState& s, const char* key, int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    s.platform->WriteSettingString(kGuideSection, key, text, s.settingsPath);
}

}  // namespace

GuideRequestStatus ComputeGuideRequest(const ScheduleEventRef& e, int64_t now, uint32_t& word) {
    if (!e.startDetermined) return GuideRequestStatus::kStartUndetermined;
    if (now < 0) return GuideRequestStatus::kNoClock;
    const int64_t until = e.start - now;
    if (until > kLongestWait) return GuideRequestStatus::kTooFarAhead;
    if (e.durationDetermined && e.start + e.duration <= now) return GuideRequestStatus::kEnded;
    // Of undetermined duration: over once it may have run its longest, as
    // the grid times it (it is not on air there either).
    if (!e.durationDetermined && e.start + kUndeterminedRunSeconds <= now) return GuideRequestStatus::kEnded;
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
        case GuideRequestStatus::kOtherService:
            return kRequestOtherService;
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

void GuideSize(PluginState& s, int32_t& width, int32_t& height) {
    width = s.platform->ReadSettingInt(kGuideSection, "Width", 0, s.settingsPath);
    height = s.platform->ReadSettingInt(kGuideSection, "Height", 0, s.settingsPath);
    // Nothing a window could be: the template's size.
    if (width <= 0 || height <= 0 || width > kLargestSize || height > kLargestSize) width = height = 0;
}

void GuideInitialised(PluginState& s) {
    GuideViewState* v = ViewOf(s);
    if (v == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.guide.windowShown = true;
        // The viewer's present/following come again from their next repeat.
        s.guide.lastPfKey[0] = s.guide.lastPfKey[1] = 0;
    }
    // What waits now, whether or not its message is on the way.
    TakeGuideSections(s);
    v->open = true;
    v->placed = false;
    v->selection = kNoGridSelection;
    v->viewport.firstColumn = 0;
    v->shownRevision = GuideColumnsRevision(s);
    Refresh(s, *v, true);
    s.platform->SetGuideControlText(IDC_GUIDE_STATUS, v->status);
}

void GuideMoved(PluginState& s, const WindowPlacement& placement) {
    // Moves before WM_INITDIALOG place the window where the file says.
    const GuideViewState* v = ViewOf(s);
    if (v == nullptr || !v->open || s.settingsPath[0] == '\0') return;
    int32_t left = 0;
    int32_t top = 0;
    if (!PositionToSave(placement, &left, &top)) return;
    SaveInt(s, "Left", left);
    SaveInt(s, "Top", top);
}

void GuideResized(PluginState& s, const WindowPlacement& placement) {
    const GuideViewState* v = ViewOf(s);
    if (v == nullptr || !v->open || s.settingsPath[0] == '\0') return;
    int32_t left = 0;
    int32_t top = 0;
    if (!PositionToSave(placement, &left, &top)) return;
    // Maximised: the size it returns to.
    const ScreenRect& r = placement.show == WindowShow::kNormal ? placement.window : placement.normal;
    const int64_t width = static_cast<int64_t>(r.right) - r.left;
    const int64_t height = static_cast<int64_t>(r.bottom) - r.top;
    if (width <= 0 || height <= 0 || width > kLargestSize || height > kLargestSize) return;
    SaveInt(s, "Width", static_cast<int32_t>(width));
    SaveInt(s, "Height", static_cast<int32_t>(height));
}

void GuideClosed(PluginState& s) {
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.guide.windowShown = false;
    }
    GuideViewState* v = ViewOf(s);
    if (v == nullptr) return;
    v->open = false;
    v->selection = kNoGridSelection;
}

void HandleGuideSections(PluginState& s) {
    TakeGuideSections(s);
    GuideViewState* v = ViewOf(s);
    if (v != nullptr && v->open) Refresh(s, *v, false);
    if (!GuideTableSaveDue(s)) return;
    // A file that could not be read is read again before anything is saved
    // over it; the save comes at a later turn, once it was read.
    if (s.keeper.fileUnread && RereadGuideTable(s)) {
        s.platform->PostToWindow(WM_GUIDE_CACHE);
        return;
    }
    GuideStatusText(s, GuideCacheStatusText(SaveGuideTable(s)));
}

void StartGuideTableLoad(PluginState& s) {
    if (BeginGuideTableLoad(s)) {
        s.platform->PostToWindow(WM_GUIDE_CACHE);
        return;
    }
    GuideStatusText(s, GuideCacheStatusText(s.keeper.lastStatus));
}

void HandleGuideCacheStep(PluginState& s) {
    if (!s.keeper.loading) return;
    const GuideCacheStatus status = ContinueGuideTableLoad(s);
    if (status == GuideCacheStatus::kLoading) {
        s.platform->PostToWindow(WM_GUIDE_CACHE);
        return;
    }
    GuideStatusText(s, GuideCacheStatusText(status));
    GuideViewState* v = ViewOf(s);
    if (v != nullptr && v->open) Refresh(s, *v, false);
}

void SaveGuideTableNow(PluginState& s) {
    const GuideCacheStatus status = SaveGuideTable(s);
    GuideStatusText(s, GuideCacheStatusText(status));
}

void GuideGridResized(PluginState& s, int32_t width, int32_t height, int32_t charWidth, int32_t lineHeight) {
    GuideViewState* v = ViewOf(s);
    if (v == nullptr) return;
    v->viewport.width = width;
    v->viewport.height = height;
    if (charWidth > 0) v->viewport.charWidth = charWidth;
    if (lineHeight > 0) {
        v->viewport.lineHeight = lineHeight;
        v->viewport.headerHeight = lineHeight + 6;
        v->viewport.axisWidth = 3 * charWidth + 8;
        v->viewport.columnWidth = 26 * charWidth + 4;
        v->viewport.pixelsPerHour = 12 * lineHeight;
    }
}

const GridLayout* GuideLayout(PluginState& s) {
    GuideViewState* v = ViewOf(s);
    if (v == nullptr || !v->open) return nullptr;
    Follow(s, *v);
    const GridSource source = GuideGridSource(v->columns);
    LayoutGrid(source, v->viewport, v->columns.now, v->selection, v->layout);
    v->viewport = v->layout.view;
    return &v->layout;
}

const GridLayout* GuideLayoutNextCells(PluginState& s) {
    GuideViewState* v = ViewOf(s);
    if (v == nullptr || !v->open) return nullptr;
    // The columns as the first pass read them.
    const GridSource source = GuideGridSource(v->columns);
    return NextGridCells(source, v->layout) ? &v->layout : nullptr;
}

void GuideScrolled(PluginState& s, int32_t firstMinute, int32_t firstColumn) {
    GuideViewState* v = ViewOf(s);
    if (v == nullptr || !v->open) return;
    v->viewport.firstMinute = firstMinute;
    v->viewport.firstColumn = firstColumn;
    const GridSource source = GuideGridSource(v->columns);
    ClampGridView(source, v->viewport);
    s.platform->RedrawGuide();
}

void GuideWheel(PluginState& s, int32_t delta) {
    // A notch of the wheel: an hour.
    const int32_t kWheelMinutes = 60;
    GuideViewState* v = ViewOf(s);
    if (v == nullptr || !v->open) return;
    const int32_t minutes = GridWheelMinutes(delta, kWheelMinutes, v->wheelRemainder);
    if (minutes == 0) return;
    // Forward, towards the morning.
    GuideScrolled(s, v->viewport.firstMinute - minutes, v->viewport.firstColumn);
}

void GuideDaySelected(PluginState& s, int32_t day) {
    GuideViewState* v = ViewOf(s);
    if (v == nullptr || !v->open || day < 0 || day >= v->days.count) return;
    v->viewport.dayStart = v->days.start[day];
    s.platform->RedrawGuide();
}

void GuideSelectProgramme(PluginState& s, int32_t column, int32_t index) {
    GuideViewState* v = ViewOf(s);
    if (v == nullptr || !v->open) return;
    Follow(s, *v);
    ScheduleEventRef ref;
    if (GuideColumnEvent(v->columns, column, index, ref)) {
        v->selection = GridSelection{column, index, ref.eventId};
        RememberSelection(*v);
        const GridSource source = GuideGridSource(v->columns);
        ShowGridSelection(source, v->viewport, v->selection);
    } else {
        v->selection = kNoGridSelection;
    }
    ShowSelection(s, *v);
    ExplainSelectedRefusal(s, *v);
    s.platform->RedrawGuide();
}

void GuideClicked(PluginState& s, int32_t x, int32_t y) {
    GuideViewState* v = ViewOf(s);
    if (v == nullptr || !v->open) return;
    // Every pass of cells the window drew.
    const GridHit hit = GridHitTestAllPasses(GuideGridSource(v->columns), v->layout, x, y);
    if (hit.kind != GridHitKind::kCell) return;
    // The programme drawn there, found again by its id: the list may have
    // changed since the grid was drawn.
    Follow(s, *v);
    const int32_t index = GuideColumnIndexOfEvent(v->columns, hit.column, hit.id);
    if (index >= 0) GuideSelectProgramme(s, hit.column, index);
}

void GuideDoubleClicked(PluginState& s, int32_t x, int32_t y) {
    GuideViewState* v = ViewOf(s);
    if (v == nullptr || !v->open) return;
    const GridHit hit = GridHitTest(v->layout, x, y);
    if (hit.kind != GridHitKind::kHeader || hit.column < 0 || hit.column >= v->columns.count) return;
    // As the channel buttons ask the host.
    const int32_t channel = v->columns.column[hit.column].channel;
    if (IsTunableChannel(channel)) s.platform->TuneChannel(channel);
}

void GuideKeyPressed(PluginState& s, GridKey key) {
    GuideViewState* v = ViewOf(s);
    if (v == nullptr || !v->open) return;
    Follow(s, *v);
    const GridSource source = GuideGridSource(v->columns);
    const GridSelection before = v->selection;
    if (!MoveGridSelection(source, v->days, v->columns.now, key, v->viewport, v->selection)) return;
    RememberSelection(*v);
    if (before.column != v->selection.column || before.id != v->selection.id) {
        ShowSelection(s, *v);
        ExplainSelectedRefusal(s, *v);
    }
    s.platform->RedrawGuide();
}

void GuideRequestPressed(PluginState& s) {
    GuideViewState* v = ViewOf(s);
    if (v == nullptr || !v->open) return;
    {
        // The viewer closed and told the host: nothing more is asked of it.
        std::lock_guard<std::mutex> guard(s.lock);
        if (!s.active) return;
    }
    Follow(s, *v);
    ScheduleEventRef ref;
    if (!SelectedEvent(*v, ref)) return;
    uint32_t word = 0;
    const GuideRequestStatus status = SelectionRequest(s, *v, ref, word);
    if (status != GuideRequestStatus::kRequestable) {
        GuideStatusText(s, RefusalText(status));
        return;
    }
    s.platform->PostToOwner(WM_RECORD_REQUEST, word);
    char confirmed[kGuideStatusSize];
    RequestedText(*v, ref, confirmed, kGuideStatusSize);
    GuideStatusText(s, confirmed);
}

void GuideStatusText(PluginState& s, const char* text) {
    GuideViewState* v = ViewOf(s);
    if (v == nullptr) return;
    std::snprintf(v->status, sizeof v->status, "%s", text != nullptr ? text : "");
    if (v->open) s.platform->SetGuideControlText(IDC_GUIDE_STATUS, v->status);
}
