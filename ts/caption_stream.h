// Where a service's caption stream is: the PMT's caption elementary stream
// by component tag, and a service's PMT PID through the PAT.
//
// ISDB-T carries captions as stream_type 0x06 (PES private data) with a
// stream identifier descriptor (0x52) naming the component: 0x87 in the
// one-segment PMT (profile C), 0x30 for the first caption component of a
// full-segment service (profile A).
#ifndef KESTRIN_TS_CAPTION_STREAM_H
#define KESTRIN_TS_CAPTION_STREAM_H

#include <cstdint>

const uint8_t kCaptionStreamType = 0x06;
const uint8_t kStreamIdentifierDescriptorTag = 0x52;
const uint8_t kOneSegCaptionComponentTag = 0x87;
const uint8_t kFullSegCaptionComponentTag = 0x30;

// No stream or no PMT: a value no PID takes.
const int32_t kNoPid = -1;

// The PID of the elementary stream with stream_type 0x06 whose stream
// identifier descriptor carries `componentTag`, in a complete PMT section of
// `size` bytes (section_length + 3); kNoPid when there is none, when the
// section is not a PMT or cannot hold its fixed fields and a CRC_32. Every
// length is read through PsiReader: an ES_info or descriptor that overruns
// its loop ends the search at the loop's end.
int32_t FindCaptionPid(const uint8_t* section, int32_t size, uint8_t componentTag);

// The PMT PID of `programNumber` in a complete PAT section of `size` bytes;
// kNoPid when the PAT does not list it (or the section is not a PAT).
// Program 0 is the network PID and never a PMT.
int32_t FindProgramMapPid(const uint8_t* section, int32_t size, uint16_t programNumber);

#endif
