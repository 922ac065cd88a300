// Builds transport-stream test data: PSI/SI sections (PAT, PMT, SDT, EIT p/f,
// TOT) and the 188-byte packets that carry them.
//
// Sections are returned whole (table_id through CRC_32); the CRC_32 is
// computed with the plug-in's own Crc32Mpeg2. Every builder takes raw bytes
// for names, texts and descriptors, so a test can put broken lengths or
// arbitrary ARIB text into them; poke bytes afterwards and call Reseal to
// correct the CRC_32 again.
//
// Typical use:
//   build::StreamBuilder sb;
//   build::Bytes eit = build::EitPfSection(0x5DB8, 0, {build::Event(0xD68A, 21, 54, 0, 2, 10, 30,
//                                                    build::ShortEventDescriptor(title, text))});
//   build::Bytes stream = sb.Stream(0x0012, {eit});
//   RoutePackets(state, stream.data(), stream.size());
#ifndef KESTRIN_TOOLS_STREAMKIT_STREAM_BUILDER_H
#define KESTRIN_TOOLS_STREAMKIT_STREAM_BUILDER_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace build {

typedef std::vector<uint8_t> Bytes;

// Two BCD digits of a value 0..99 (0x12 for 12).
uint8_t Bcd(int value);

// Concatenation of byte strings.
Bytes Cat(const std::vector<Bytes>& parts);
// The bytes of a C string, without the terminator.
Bytes Text(const char* text);

// --- Sections -----------------------------------------------------------------

// Given the bytes of a section from table_id up to the byte before the
// CRC_32, sets section_length (keeping the four high bits of byte 1) and
// appends the CRC_32.
Bytes Seal(Bytes sectionWithoutCrc);
// Recomputes the last four bytes of a whole section as its CRC_32 (after a
// test changed bytes in it); section_length is left as it is.
void Reseal(Bytes& section);
// True when the section, run through the CRC including its CRC_32, gives 0.
bool CrcIsCorrect(const Bytes& section);

// A section with section_syntax_indicator 1: table_id, flags (the high
// nibble of byte 1: 0xB0 for MPEG-2 PSI, 0xF0 for ARIB SI), the 16-bit table
// id extension, version_number with current_next_indicator 1, section_number,
// last_section_number, then `body`, sealed.
Bytes LongSection(uint8_t tableId, uint8_t flags, uint16_t tableIdExtension, uint8_t version,
                  uint8_t sectionNumber, uint8_t lastSectionNumber, const Bytes& body);

struct PatProgram {
    uint16_t programNumber;
    uint16_t pid;  // network PID for program 0, else the PMT PID
};
Bytes PatSection(uint16_t transportStreamId, const std::vector<PatProgram>& programs,
                 uint8_t version = 0);

struct PmtStream {
    uint8_t streamType;
    uint16_t pid;
    Bytes esInfo;  // descriptors; ES_info_length is their size
};
Bytes PmtSection(uint16_t programNumber, uint16_t pcrPid, const Bytes& programInfo,
                 const std::vector<PmtStream>& streams, uint8_t version = 0);

// --- Descriptors ----------------------------------------------------------------

// tag, descriptor_length = body size (cut to 255), body.
Bytes Descriptor(uint8_t tag, const Bytes& body);
// 0x48: service_type, provider name and service name as raw bytes.
Bytes ServiceDescriptor(uint8_t serviceType, const Bytes& providerName, const Bytes& serviceName);
// 0x4D: ISO 639 language, event_name_length + name, text_length + text.
Bytes ShortEventDescriptor(const Bytes& eventName, const Bytes& text, const char* language = "jpn");
// 0x50: stream_content (low 4 bits), component_type, component_tag,
// language, text.
Bytes ComponentDescriptor(uint8_t streamContent, uint8_t componentType, uint8_t componentTag,
                          const char* language = "jpn", const Bytes& text = Bytes());

// 0xC4 audio component descriptor. `flags` is the whole byte at offset 7:
// ES_multi_lingual_flag 0x80, main_component_flag 0x40, quality_indicator
// bits 5-4, sampling_rate bits 3-1. The second language is written when
// language2 is not null (set 0x80 in flags yourself for a consistent one).
struct AudioComponent {
    uint8_t streamContent = 2;
    uint8_t componentType = 0x03;  // stereo
    uint8_t componentTag = 0x10;
    uint8_t streamType = 0x0F;  // AAC
    uint8_t simulcastGroupTag = 0xFF;
    uint8_t flags = 0x5F;  // main component, quality 1, 48 kHz
    const char* language = "jpn";
    const char* language2 = nullptr;
    Bytes text;
};
Bytes AudioComponentDescriptor(const AudioComponent& audio);

// 0x58 local time offset descriptor for Japan (+09:00, no change).
Bytes LocalTimeOffsetDescriptor();

// --- SDT, EIT, TOT ----------------------------------------------------------------

struct SdtService {
    uint16_t serviceId = 0;
    uint8_t eitFlags = 0x01;  // EIT_present_following_flag
    uint8_t runningStatus = 4;
    Bytes descriptors;
    int descriptorsLoopLength = -1;  // -1: the size of `descriptors`
};
// A service entry with one service descriptor (type 0x01 digital TV, 0xC0
// data / one-segment).
SdtService NamedService(uint16_t serviceId, const Bytes& serviceName, const Bytes& providerName = Bytes(),
                        uint8_t serviceType = 0x01);
// SDT actual (table_id 0x42).
Bytes SdtSection(uint16_t transportStreamId, uint16_t originalNetworkId,
                 const std::vector<SdtService>& services, uint8_t version = 0, uint8_t sectionNumber = 0,
                 uint8_t lastSectionNumber = 0);

// One EIT event. The start time and duration are raw bytes, so a test can
// write undetermined (0xFF) fields.
struct EitEvent {
    uint16_t eventId = 1;
    uint16_t startMjd = 0;
    uint8_t start[3] = {0, 0, 0};     // hour, minute, second (BCD)
    uint8_t duration[3] = {0, 0, 0};  // hours, minutes, seconds (BCD)
    uint8_t runningStatus = 4;
    bool freeCaMode = false;
    Bytes descriptors;
    int descriptorsLoopLength = -1;  // -1: the size of `descriptors`
};
// An event with BCD start time and duration from decimal values.
EitEvent Event(uint16_t startMjd, int hour, int minute, int second, int durationHours, int durationMinutes,
               int durationSeconds, const Bytes& descriptors = Bytes());

const uint16_t kDefaultTransportStreamId = 0x7FE0;
const uint16_t kDefaultNetworkId = 0x7FE0;

// EIT present/following actual (table_id 0x4E): section_number 0 present,
// 1 following. Service_id at bytes 3-4, section_number at 6, the first
// event's start at 16, its descriptors at 26.
Bytes EitPfSection(uint16_t serviceId, uint8_t sectionNumber, const std::vector<EitEvent>& events,
                   uint8_t version = 0, uint16_t transportStreamId = kDefaultTransportStreamId,
                   uint16_t originalNetworkId = kDefaultNetworkId, uint8_t tableId = 0x4E);

// Any EIT section (present/following or schedule, actual or other): the
// header fields as given, the events, the CRC_32.
struct EitHeader {
    uint8_t tableId = 0x50;
    uint16_t serviceId = 0;
    uint8_t version = 0;
    uint8_t sectionNumber = 0;
    uint8_t lastSectionNumber = 0;
    uint16_t transportStreamId = kDefaultTransportStreamId;
    uint16_t originalNetworkId = kDefaultNetworkId;
    uint8_t segmentLastSectionNumber = 0;
    uint8_t lastTableId = 0x50;
};
Bytes EitSection(const EitHeader& header, const std::vector<EitEvent>& events);
// The header of a schedule section of eight days (last_section_number
// 0xF8) whose segment may run to its eighth section (sectionNumber | 7).
EitHeader ScheduleHeader(uint16_t serviceId, uint8_t sectionNumber, uint8_t version = 0, uint8_t tableId = 0x50);

// 0x4E extended event descriptor: descriptor_number, last, language, items
// (description, text as raw bytes), text_char.
struct ExtendedItem {
    Bytes description;
    Bytes text;
};
Bytes ExtendedEventDescriptor(uint8_t number, uint8_t lastNumber, const std::vector<ExtendedItem>& items,
                              const Bytes& text = Bytes(), const char* language = "jpn");
// 0x54 content descriptor: each entry is level1 << 12 | level2 << 8 |
// user1 << 4 | user2.
Bytes ContentDescriptorOf(const std::vector<uint16_t>& entries);
// 0xD5 series descriptor.
struct Series {
    uint16_t seriesId = 0;
    uint8_t repeatLabel = 0;
    uint8_t programPattern = 0;
    bool expireDateValid = false;
    uint16_t expireDate = 0;  // MJD
    uint16_t episodeNumber = 0;
    uint16_t lastEpisodeNumber = 0;
    Bytes name;
};
Bytes SeriesDescriptor(const Series& series);
// 0xD6 event group descriptor: group_type, events (service_id, event_id),
// and for group types 4 and 5 the other network's events.
struct GroupEvent {
    uint16_t originalNetworkId = 0;
    uint16_t transportStreamId = 0;
    uint16_t serviceId = 0;
    uint16_t eventId = 0;
};
Bytes EventGroupDescriptor(uint8_t groupType, const std::vector<GroupEvent>& events,
                           const std::vector<GroupEvent>& otherNetworkEvents = std::vector<GroupEvent>());

// TOT (table_id 0x73): JST_time as MJD and raw BCD bytes, descriptors (by
// default the local time offset descriptor), CRC_32.
Bytes TotSection(uint16_t mjd, uint8_t hourBcd, uint8_t minuteBcd, uint8_t secondBcd,
                 const Bytes& descriptors = LocalTimeOffsetDescriptor());
// TDT (table_id 0x70): JST_time only, no CRC_32.
Bytes TdtSection(uint16_t mjd, uint8_t hourBcd, uint8_t minuteBcd, uint8_t secondBcd);

// --- Packets -----------------------------------------------------------------------

const int kNoAdaptationField = -1;

// One packet: sync byte, PUSI, PID, adaptation_field_control and the
// counter; with adaptationLength >= 0 an adaptation field of that
// adaptation_field_length (flags byte 0, then 0xFF stuffing); then the
// payload, cut at the packet's end, and 0xFF up to byte 187. An adaptation
// field of length 183 leaves no payload (adaptation_field_control '10').
Bytes MakePacket(uint16_t pid, bool pusi, uint8_t counter, const Bytes& payload,
                 int adaptationLength = kNoAdaptationField);

// How Packets() lays sections into packets.
struct PacketOptions {
    // adaptation_field_length for every packet, or kNoAdaptationField.
    int adaptationLength = kNoAdaptationField;
    // Per packet index; overrides adaptationLength where given.
    std::vector<int> adaptationLengths;
    // true: a section starts right behind the previous one, in the same
    // packet when it fits (several sections per packet); false: every
    // section starts a new packet and the rest of the last one is 0xFF.
    bool packSections = true;
    // Bytes before the first section in the first packet (the tail of an
    // earlier section); the pointer_field skips them.
    Bytes leading;
};

// Keeps one continuity counter per PID, so successive calls continue the
// same stream.
class StreamBuilder {
public:
    // Continuity counter of the next packet of the PID (0 at first).
    uint8_t Counter(uint16_t pid) const;
    void SetCounter(uint16_t pid, uint8_t counter);

    // One packet with the PID's next counter (a packet with an adaptation
    // field of 183 bytes, which has no payload, repeats the previous one).
    Bytes Packet(uint16_t pid, bool pusi, const Bytes& payload, int adaptationLength = kNoAdaptationField);

    // The sections as packets: PUSI and pointer_field on every packet in
    // which a section begins, a section over as many packets as it needs,
    // 0xFF stuffing behind the last section. Every packet has
    // transport_priority 1, as broadcasters send PSI/SI; Packet() and
    // MakePacket() leave it 0.
    std::vector<Bytes> Packets(uint16_t pid, const std::vector<Bytes>& sections,
                               const PacketOptions& options = PacketOptions());
    // The same, joined into one buffer.
    Bytes Stream(uint16_t pid, const std::vector<Bytes>& sections, const PacketOptions& options = PacketOptions());

private:
    std::map<uint16_t, uint8_t> counters_;
};

// Packets joined into one buffer.
Bytes Join(const std::vector<Bytes>& packets);

}  // namespace build

#endif
