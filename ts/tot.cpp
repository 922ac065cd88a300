#include "ts/tot.h"

#include "ts/calendar.h"
#include "ts/packet.h"
#include "ts/psi_reader.h"
#include "ts/section.h"

bool ReadTotTime(const uint8_t* packet, TotTime& time) {
    if (!PacketHasPusi(packet)) return false;
    const int32_t s = PacketSectionStart(packet);
    if (s < 0) return false;
    // Only the first section of the packet is read, and only as far as the
    // packet holds it.
    PsiReader r(packet + s, kTsPacketSize - s);
    const uint8_t tableId = r.U8();
    r.Skip(kSectionHeaderSize - 1);  // section_length
    const uint16_t mjd = r.U16();
    const uint8_t hour = r.U8();
    const uint8_t minute = r.U8();
    const uint8_t second = r.U8();
    if (r.Error() || tableId != kTotTableId) return false;
    time.mjd = mjd;
    time.hour = FromBcd(hour);
    time.minute = FromBcd(minute);
    time.second = FromBcd(second);
    return true;
}
