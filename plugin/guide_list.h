// One service's programme list in the guide, the window thread's own: its
// rows in start order, its event-id map, and the filing of a section into
// it (a section's older version leaves with its events, its own events
// enter, displacing what they conflict with; a full pool drops ended
// sections first, then the furthest). What guide_store.cpp needs of it.
#ifndef KESTRIN_PLUGIN_GUIDE_LIST_H
#define KESTRIN_PLUGIN_GUIDE_LIST_H

#include <cstdint>

#include "plugin/guide_state.h"
#include "text/eit_schedule.h"

const ScheduleEventRef& AtRow(const GuideServiceTable& table, int32_t row);
// The list entry of an event id, -1 when not listed.
int16_t EntryOfEvent(const GuideServiceTable& table, uint16_t eventId);
// The row `ref` stands at, or would be put at.
int32_t RowFor(const GuideServiceTable& table, const ScheduleEventRef& ref);
// The end of the programme at `row`, timed by ScheduleEventEnd with the
// row after it as the next programme (an undetermined duration runs until
// it, at most kUndeterminedRunSeconds). False past the list or when its
// start is undetermined.
bool RowEnd(const GuideServiceTable& table, int32_t row, int64_t& end);
// The first row that ends after `start` (RowEnd).
int32_t FirstEndingAfter(const GuideServiceTable& table, int64_t start);
void EmptyList(GuideServiceTable& table);
// Adds one whole section to the service's table and its events to the list.
ScheduleAddResult FileSection(GuideStore& store, GuideServiceTable& table, const uint8_t* section, int32_t length);

#endif
