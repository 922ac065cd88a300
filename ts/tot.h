// The time of day carried by the TOT (time offset table).
#ifndef KESTRIN_TS_TOT_H
#define KESTRIN_TS_TOT_H

#include <cstdint>

// JST_time's time of day, decoded from BCD without a range test (0xFF reads
// as 165).
struct TotTime {
    int32_t mjd;  // JST_time's date
    int32_t hour;
    int32_t minute;
    int32_t second;
};

// Reads the time of the first section of a PUSI packet on the TOT PID.
// False (and `time` untouched) for a packet without PUSI, a first section
// that is not a TOT, or one whose time does not lie wholly inside the packet.
bool ReadTotTime(const uint8_t* packet, TotTime& time);

#endif
