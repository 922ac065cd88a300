// The bytes of the programme table's cache file, apart from any file: the
// records a save writes and a load reads back, and the streaming scanner
// that checks them. Every number is big-endian, as in the broadcast.
//
//   header   "KSTRNEPG" (8 bytes), format version (4 bytes)
//   records  type (1 byte), payload length (2 bytes), payload
//     kGuideCacheServiceRecord  one service (GuideCacheService below); the
//                               section records after it are its own
//     kGuideCacheSectionRecord  one EIT section as received, CRC_32 included
//                               (table 0x4E/0x4F or 0x50-0x6F, at most 4096
//                               bytes, its section_length agreeing)
//     kGuideCacheEndRecord      4 bytes: CRC-32/MPEG-2 of every byte of the
//                               file before them, so that a file cut short,
//                               or one byte changed anywhere, is caught
//   nothing after the end record.
//
// A record is at most 3 + 4096 bytes, so a reader holding kGuideCacheChunk
// bytes always has a whole record in view; nothing is sized by the file.
#ifndef KESTRIN_PLUGIN_GUIDE_CACHE_FORMAT_H
#define KESTRIN_PLUGIN_GUIDE_CACHE_FORMAT_H

#include <cstdint>

const uint8_t kGuideCacheMagic[8] = {'K', 'S', 'T', 'R', 'N', 'E', 'P', 'G'};
// Raised whenever a record's layout changes: a file of another version is
// not read (and is replaced by the next save).
const uint32_t kGuideCacheVersion = 1;
const int32_t kGuideCacheHeaderSize = 12;

const uint8_t kGuideCacheServiceRecord = 0x01;
const uint8_t kGuideCacheSectionRecord = 0x02;
const uint8_t kGuideCacheEndRecord = 0xFF;
const int32_t kGuideCacheRecordHeaderSize = 3;

// The longest EIT section (section_length is at most 4093) and the shortest
// one that can be a section at all (header through last_table_id, CRC_32).
const int32_t kGuideCacheMaxSection = 4096;
const int32_t kGuideCacheMinSection = 18;
const int32_t kGuideCacheNameSize = 64;  // 63 bytes of Shift_JIS and a NUL
// The service record without its name, and at most.
const int32_t kGuideCacheServiceFixedSize = 28;
const int32_t kGuideCacheMaxRecord = kGuideCacheRecordHeaderSize + kGuideCacheMaxSection;

// Reads and writes go through one fixed buffer of this size, in whole
// chunks: large enough that a save of the whole budget is a few hundred
// writes, small enough for the plug-in's fixed memory.
const int32_t kGuideCacheChunk = 64 * 1024;
static_assert(kGuideCacheChunk >= 2 * kGuideCacheMaxRecord, "a record always fits the buffer");

// What the file keeps of a service besides its sections.
// The file's numbers are big-endian, as the sections in it are.
inline void PutGuideCache16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void PutGuideCache32(uint8_t* p, uint32_t v) {
    PutGuideCache16(p, v >> 16);
    PutGuideCache16(p + 2, v & 0xFFFF);
}

struct GuideCacheService {
    uint16_t networkId;  // original_network_id
    uint16_t transportStreamId;
    uint16_t serviceId;
    int32_t channel;      // physical channel it was received on, 0 unknown
    int64_t lastWatched;  // Japan seconds, 0 never
    char name[kGuideCacheNameSize];  // Shift_JIS, NUL-terminated
    int32_t listCount;    // programmes it listed when saved (0 or more)
    uint32_t revision;
    bool watched;
};

// The service record's bytes (header included) into `out`, which holds at
// least kGuideCacheMaxRecord bytes; returns their number. A name longer
// than 63 bytes is cut there.
int32_t EncodeGuideCacheService(const GuideCacheService& service, uint8_t* out);

// Whether `section` may be kept as a section record: a table of the guide,
// 18..4096 bytes, its section_length agreeing with `length`.
bool IsGuideCacheSection(const uint8_t* section, int32_t length);

// True when every programme of the EIT section has ended at `now` (Japan
// seconds), each timed as the guide times it (EitSectionEnded): its
// duration, or when that is undetermined until the next programme of the
// section, at most three hours. A section without events, with an event
// whose start is undetermined, or whose event loop does not parse, has not
// ended: the store decides about those.
bool GuideSectionHasEnded(const uint8_t* section, int32_t length, int64_t now);

// Why a file is not a cache that can be read.
enum class GuideCacheFault {
    kNone,
    kEmpty,         // no byte at all
    kNotOurs,       // it does not begin with the magic
    kOtherVersion,  // the magic, then a version this build does not read
    kTruncated,     // it ends before its end record
    kCorrupt,       // a record that cannot be, a wrong checksum, bytes after the end
};

// One record as the scanner found it: `payload` points into the bytes the
// scanner was given and stays valid until they are moved.
struct GuideCacheRecord {
    uint8_t type;
    const uint8_t* payload;
    int32_t length;
};

// Checks a cache file's bytes as they arrive, a piece at a time, keeping
// the checksum, and hands out each whole record. Holds no bytes itself: the
// caller keeps a buffer, gives the scanner what it holds, and moves what was
// not consumed to the front before reading more.
struct GuideCacheScanner {
    uint32_t crc;
    int64_t consumed;   // bytes of the file accepted so far
    bool headerSeen;
    bool endSeen;
    bool serviceSeen;   // a section record needs a service before it
    bool checksum;      // the checksum is computed and compared
    GuideCacheFault fault;
};

// A scan from the file's first byte. Without `checksum` only the structure
// is checked: for a second reading of a file whose checksum was found right.
void BeginGuideCacheScan(GuideCacheScanner& scanner, bool checksum = true);

// What ScanGuideCacheRecord found in the bytes given.
enum class GuideCacheScan {
    kRecord,    // *record is the next record; `*used` bytes were consumed
    kNeedMore,  // no whole record in the bytes: read more (or the file ended)
    kDone,      // the end record was read and its checksum is right
    kFault,     // scanner.fault says what is wrong; nothing more is read
};

// Consumes the header or the next record from `data` (`size` bytes of the
// file, starting where the last call stopped). The header is consumed
// without a record. After kDone every further byte is a fault.
GuideCacheScan ScanGuideCacheRecord(GuideCacheScanner& scanner, const uint8_t* data, int32_t size,
                                    int32_t* used, GuideCacheRecord* record);

// The file ended with `left` bytes not consumed: the fault it is (kEmpty,
// kTruncated, kNotOurs for a short file that is not even our magic), or
// kNone when the end record had been read and nothing is left.
GuideCacheFault FinishGuideCacheScan(GuideCacheScanner& scanner, int32_t left);

// Reads a service record's payload; false when it cannot be one.
bool DecodeGuideCacheService(const uint8_t* payload, int32_t length, GuideCacheService* out);

#endif
