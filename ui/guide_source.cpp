#include "ui/guide_source.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "plugin/guide_store.h"
#include "plugin/plugin_state.h"
#include "plugin/settings.h"
#include "text/arib_decoder.h"
#include "text/eit_event.h"
#include "text/eit_schedule.h"

// Every service the largest budget holds has its column: none is left out
// of the grid, the watched one least of all, and each is reached by
// scrolling.
static_assert(static_cast<size_t>(kGridMaxColumns) >=
                  static_cast<size_t>(kGuideMostMemoryMB) * 1024 * 1024 / kGuideServiceShare,
              "a column for every service the guide can hold");

namespace {

// The store's service behind a column: its entry index, as filled.
const GuideStore& StoreOf(const GuideColumns& c) { return c.state->guide; }
int32_t ServiceOf(const GuideColumns& c, int32_t column) { return c.column[column].service; }

bool ValidColumn(const GuideColumns& c, int32_t column) {
    return c.state != nullptr && column >= 0 && column < c.count;
}

int32_t Count(void* context, int32_t column) {
    const GuideColumns& c = *static_cast<GuideColumns*>(context);
    GuideServiceInfo info;
    if (!ValidColumn(c, column) || !GuideServiceAt(StoreOf(c), ServiceOf(c, column), info)) return 0;
    return info.listCount;
}

bool Column(void* context, int32_t column, GridColumnInfo& out) {
    const GuideColumns& c = *static_cast<GuideColumns*>(context);
    if (!ValidColumn(c, column)) return false;
    std::memcpy(out.name, c.column[column].name, sizeof out.name);
    out.tunable = IsTunableChannel(c.column[column].channel);
    return true;
}

int32_t FirstEndingAfter(void* context, int32_t column, int64_t time) {
    const GuideColumns& c = *static_cast<GuideColumns*>(context);
    if (!ValidColumn(c, column)) return 0;
    return GuideServiceFirstRowEndingAfter(StoreOf(c), ServiceOf(c, column), time);
}

bool Programme(void* context, int32_t column, int32_t index, GridProgramme& out) {
    const GuideColumns& c = *static_cast<GuideColumns*>(context);
    ScheduleEventRef ref;
    if (!GuideColumnEvent(c, column, index, ref)) return false;
    out.id = ref.eventId;
    out.startDetermined = ref.startDetermined;
    out.start = ref.start;
    // Its end as the whole guide takes it (an undetermined duration runs
    // until the next programme, at most kUndeterminedRunSeconds).
    ScheduleEventRef next;
    const bool hasNext = GuideColumnEvent(c, column, index + 1, next);
    int64_t end = 0;
    const bool timed = ScheduleEventEnd(ref, hasNext ? &next : nullptr, end);
    out.duration = timed ? static_cast<int32_t>(end - ref.start) : 0;
    // The present section's programme is on air by the broadcaster's word,
    // until that end.
    out.onAir = ref.present && timed && (c.now < 0 || c.now < end);
    out.genre = kGridNoGenre;
    // Large: on the window thread's stack for one programme.
    EitEventRecord record;
    if (ReadGuideColumnEvent(c, column, ref, record, false) && record.genreCount > 0) {
        out.genre = record.genres[0].level1 & 0x0F;
    }
    return true;
}

int32_t Title(void* context, int32_t column, int32_t index, char* out, int32_t capacity) {
    const GuideColumns& c = *static_cast<GuideColumns*>(context);
    if (capacity <= 0) return 0;
    out[0] = '\0';
    ScheduleEventRef ref;
    EitEventRecord record;
    if (!GuideColumnEvent(c, column, index, ref) || !ReadGuideColumnEvent(c, column, ref, record, false)) return 0;
    return DecodeAribText(out, record.name, record.nameSize, capacity, SymbolStyle::kBracketed);
}

// Position of a channel among the buttons; channels on no button after
// them, unknown ones last.
int64_t ButtonRank(int32_t channel, const int32_t* table, int32_t buttons) {
    if (channel < 0) return 1LL << 40;
    for (int32_t i = 0; i < buttons; ++i) {
        if (table[i] == channel) return i;
    }
    return (1LL << 20) + channel;
}

}  // namespace

void FillGuideColumns(PluginState& s, GuideColumns& c) {
    c.state = &s;
    c.count = 0;
    SyncGuide(s);
    int32_t channelTable[kChannelButtonCount];
    char currentName[kGridNameSize];
    int32_t currentChannel;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        c.now = BroadcastNow(s);
        currentChannel = s.currentChannel;
        const size_t n = sizeof s.serviceName < sizeof currentName ? sizeof s.serviceName : sizeof currentName;
        std::memcpy(currentName, s.serviceName, n);
        std::memcpy(channelTable, s.channelTable, sizeof channelTable);
    }
    currentName[kGridNameSize - 1] = '\0';
    // A column for every service with programmes, and for the watched one
    // even before its first (the one-segment layer alone may bring none).
    // The columns hold every service the store can (above); should they
    // not, the watched service keeps the last place.
    const GuideStore& g = s.guide;
    const int32_t services = GuideServiceCount(g);
    const int32_t watched = GuideWatchedService(g);
    bool watchedTaken = false;
    for (int32_t i = 0; i < services && c.count < kGridMaxColumns; ++i) {
        GuideServiceInfo info;
        if (!GuideServiceAt(g, i, info) || (info.listCount == 0 && !info.watched)) continue;
        if (!info.watched && !watchedTaken && watched > i && c.count == kGridMaxColumns - 1) continue;
        watchedTaken = watchedTaken || info.watched;
        GuideColumn& k = c.column[c.count++];
        std::memset(&k, 0, sizeof k);
        k.networkId = info.key.networkId;
        k.transportStreamId = info.key.transportStreamId;
        k.serviceId = info.key.serviceId;
        k.service = i;
        k.watched = info.watched;
        k.channel = info.watched && info.channel < 0 ? currentChannel : info.channel;
        const char* name = info.name[0] == '\0' && info.watched ? currentName : info.name;
        std::snprintf(k.name, sizeof k.name, "%s", name);
    }
    OrderGuideColumns(c.column, c.count, channelTable, kChannelButtonCount);
}

GridSource GuideGridSource(GuideColumns& c) {
    GridSource source;
    source.context = &c;
    source.columns = c.count;
    source.column = Column;
    source.count = Count;
    source.firstEndingAfter = FirstEndingAfter;
    source.programme = Programme;
    source.title = Title;
    return source;
}

bool GuideColumnEvent(const GuideColumns& c, int32_t column, int32_t index, ScheduleEventRef& ref) {
    return ValidColumn(c, column) && GuideServiceRow(StoreOf(c), ServiceOf(c, column), index, ref);
}

int32_t GuideColumnIndexOfEvent(const GuideColumns& c, int32_t column, int32_t eventId) {
    return ValidColumn(c, column) ? GuideServiceRowOfEvent(StoreOf(c), ServiceOf(c, column), eventId) : -1;
}

bool ReadGuideColumnEvent(const GuideColumns& c, int32_t column, const ScheduleEventRef& ref, EitEventRecord& record,
                          bool items) {
    if (!ValidColumn(c, column)) return false;
    const int32_t service = ServiceOf(c, column);
    if (items) return ReadGuideServiceEvent(StoreOf(c), service, ref, record);
    const EitScheduleService* schedule = GuideServiceSchedule(StoreOf(c), service);
    return schedule != nullptr && ReadScheduleEvent(*schedule, ref, record);
}

uint32_t GuideColumnsRevision(const PluginState& s) { return GuideRevision(s.guide); }

int32_t GuideColumnOf(const GuideColumns& c, uint16_t networkId, uint16_t transportStreamId, uint16_t serviceId) {
    for (int32_t i = 0; i < c.count && i < kGridMaxColumns; ++i) {
        const GuideColumn& k = c.column[i];
        if (k.networkId == networkId && k.transportStreamId == transportStreamId && k.serviceId == serviceId) return i;
    }
    return -1;
}

void OrderGuideColumns(GuideColumn* columns, int32_t count, const int32_t* table, int32_t buttons) {
    if (columns == nullptr || count <= 1) return;
    const auto before = [table, buttons](const GuideColumn& a, const GuideColumn& b) {
        const int64_t ra = ButtonRank(a.channel, table, buttons);
        const int64_t rb = ButtonRank(b.channel, table, buttons);
        if (ra != rb) return ra < rb;
        if (a.networkId != b.networkId) return a.networkId < b.networkId;
        if (a.transportStreamId != b.transportStreamId) return a.transportStreamId < b.transportStreamId;
        return a.serviceId < b.serviceId;
    };
    // Insertion sort: stable, in place, and a few dozen columns at most
    // (std::stable_sort may take a buffer from the heap).
    for (int32_t i = 1; i < count; ++i) {
        const GuideColumn moving = columns[i];
        int32_t j = i;
        for (; j > 0 && before(moving, columns[j - 1]); --j) columns[j] = columns[j - 1];
        columns[j] = moving;
    }
}
