#include "ts/crc16.h"

uint16_t Crc16Ccitt(const uint8_t* data, int32_t size) {
    uint32_t crc = 0;
    for (int32_t i = 0; i < size; ++i) {
        crc ^= static_cast<uint32_t>(data[i]) << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000u) != 0 ? ((crc << 1) ^ 0x1021u) : (crc << 1);
        crc &= 0xFFFFu;
    }
    return static_cast<uint16_t>(crc);
}
