// The guide grid's columns and programmes, read from the guide store on the
// window thread: the one place that knows how the store is asked, so that
// the grid (ui/guide_grid.h) and the window (ui/guide_view.h) do not.
//
// A column for each service the store holds programmes of, and for the
// watched one even before its first. Each column names its service
// (network, transport stream, service id), the physical channel it is
// received on and the store's service index.
#ifndef KESTRIN_UI_GUIDE_SOURCE_H
#define KESTRIN_UI_GUIDE_SOURCE_H

#include <cstdint>

#include "ui/guide_grid.h"

struct EitEventRecord;
struct PluginState;
struct ScheduleEventRef;

struct GuideColumn {
    uint16_t networkId;
    uint16_t transportStreamId;
    uint16_t serviceId;
    int32_t service;  // the store's index of the service
    int32_t channel;  // physical channel it is received on, -1 unknown
    bool watched;     // the service being received now: the host records only it
    char name[kGridNameSize];  // Shift_JIS, may be empty
};

struct GuideColumns {
    PluginState* state;
    int64_t now;  // broadcast time when filled, -1 unknown
    GuideColumn column[kGridMaxColumns];
    int32_t count;
};

// The columns as the store holds them now, ordered as the channel buttons
// (window thread; takes the lock only to copy).
void FillGuideColumns(PluginState& state, GuideColumns& columns);

// The grid's source over the columns (their programmes in start order).
GridSource GuideGridSource(GuideColumns& columns);

// A column's programme `index` (false past its end).
bool GuideColumnEvent(const GuideColumns& columns, int32_t column, int32_t index, ScheduleEventRef& ref);
// The index of an event id in a column, -1 when not there.
int32_t GuideColumnIndexOfEvent(const GuideColumns& columns, int32_t column, int32_t eventId);
// The programme's record; with `items`, the extended items too (details).
bool ReadGuideColumnEvent(const GuideColumns& columns, int32_t column, const ScheduleEventRef& ref,
                          EitEventRecord& record, bool items);
// Bumped by every change of what the columns hold.
uint32_t GuideColumnsRevision(const PluginState& state);
// The column of a service, -1 when not there.
int32_t GuideColumnOf(const GuideColumns& columns, uint16_t networkId, uint16_t transportStreamId,
                      uint16_t serviceId);

// Orders columns as the channel buttons: the button showing the channel
// first (channels on no button after every button, by channel), then each
// multiplex's services by service id, so the one-segment service (the
// multiplex's highest id) stands beside its multiplex. Unknown channels last.
void OrderGuideColumns(GuideColumn* columns, int32_t count, const int32_t* channelTable, int32_t buttons);

#endif
