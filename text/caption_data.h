// ARIB caption data: data groups, caption management data, caption
// statement data and their data units, as pure functions over the bytes of
// one data group (what ParseCaptionPesData finds behind the PES data header).
//
// Every length comes through PsiReader: a data group whose
// data_group_size runs past the bytes received, or whose CRC_16 is wrong, is
// refused whole; a data unit whose data_unit_size runs past its loop is cut
// at the loop's end and reported.
#ifndef KESTRIN_TEXT_CAPTION_DATA_H
#define KESTRIN_TEXT_CAPTION_DATA_H

#include <cstdint>

// data_group_id: group A is 0x00-0x08, group B 0x20-0x28. Within a group, 0
// is the caption management data and 1-8 the statement data of the
// languages 1-8.
const uint8_t kDataGroupB = 0x20;
const uint8_t kCaptionManagementGroup = 0x00;

// data_unit_parameter values.
const uint8_t kDataUnitStatementBody = 0x20;
const uint8_t kDataUnitDrcsOneByte = 0x30;
const uint8_t kDataUnitDrcsTwoByte = 0x31;
const uint8_t kDataUnitSeparator = 0x1F;

// The languages one management data may announce (num_languages is 3 bits).
const int32_t kCaptionMaxLanguages = 8;

enum class CaptionGroup : uint8_t { kNone, kA, kB };

enum class DataGroupStatus {
    kOk,
    kTooShort,       // fewer bytes than the 5 header bytes and CRC_16
    kLengthPastEnd,  // data_group_size runs past the bytes received
    kBadCrc,         // CRC_16 over the group is not 0
};

struct DataGroup {
    uint8_t dataGroupId;      // 6 bits, 0x00-0x08 or 0x20-0x28 for captions
    uint8_t version;          // data_group_version, 2 bits
    uint8_t linkNumber;
    uint8_t lastLinkNumber;
    CaptionGroup group;       // kA, kB, or kNone for an id outside both
    int32_t language;         // 0 for management, 1-8 for statements
    const uint8_t* data;      // data_group_data_byte
    int32_t size;             // data_group_size
};

// Reads one data group from `size` bytes: header, data_group_size bytes and
// CRC_16 (checked). Bytes behind the CRC_16 are ignored.
DataGroupStatus ParseDataGroup(const uint8_t* bytes, int32_t size, DataGroup* out);

// One language of the caption management data.
struct CaptionLanguage {
    uint8_t languageTag;     // 3 bits: 0 first language, 1 second ...
    uint8_t displayMode;     // DMF, 4 bits
    uint8_t displayCondition;  // DC, present when DMF is 0b1100, 0b1101 or 0b1110
    char iso639[4];          // ISO_639_language_code, terminated
    uint8_t format;          // 4 bits: display format (0 horizontal 1920x1080 ... 0xF none)
    uint8_t characterCoding; // TCS, 2 bits: 0 8-unit code
    uint8_t rollupMode;      // 2 bits
};

// The management data's own fields. TMD 0 (free), 1 (real time), 2 (offset
// time); OTM is kept for mode 2.
struct CaptionManagement {
    uint8_t timeControlMode;
    uint64_t offsetTime;      // OTM, nine BCD digits as read (hhmmssmmm), mode 2 only
    int32_t languageCount;
    CaptionLanguage languages[kCaptionMaxLanguages];
    const uint8_t* dataUnits;  // the data unit loop
    int32_t dataUnitsSize;
};

// Reads caption management data from a data group's data bytes. Returns
// false when a fixed field or the data unit loop length runs past the end;
// languages past kCaptionMaxLanguages cannot occur (3 bits).
bool ParseCaptionManagement(const uint8_t* data, int32_t size, CaptionManagement* out);

// The statement data's own fields: TMD, STM for modes 1 and 2, the data
// unit loop.
struct CaptionStatement {
    uint8_t timeControlMode;
    uint64_t presentationTime;  // STM, nine BCD digits as read, modes 1 and 2 only
    const uint8_t* dataUnits;
    int32_t dataUnitsSize;
};

bool ParseCaptionStatement(const uint8_t* data, int32_t size, CaptionStatement* out);

// One data unit of a data unit loop.
struct DataUnit {
    uint8_t parameter;   // data_unit_parameter
    const uint8_t* data;
    int32_t size;        // data_unit_size, cut to the loop
    bool cut;            // data_unit_size ran past the loop
};

// Walks a data unit loop: each call reads the next unit at *offset and
// moves *offset past it. Returns false at the end of the loop, or when the
// next unit does not start with unit_separator 0x1F or its header is cut
// (then the walk ends).
bool NextDataUnit(const uint8_t* loop, int32_t loopSize, int32_t* offset, DataUnit* out);

#endif
