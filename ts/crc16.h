// CRC-16/CCITT as ARIB caption data groups carry it (the CRC_16 behind each
// data group).
#ifndef KESTRIN_TS_CRC16_H
#define KESTRIN_TS_CRC16_H

#include <cstdint>

// Polynomial 0x1021, preset 0x0000, no reflection, no final inversion. A whole
// data group run through it, CRC_16 included, gives 0.
uint16_t Crc16Ccitt(const uint8_t* data, int32_t size);

#endif
