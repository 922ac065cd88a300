// The scenario of a sample stream: the multiplex's services and their
// elementary streams, and the events each service broadcasts.
//
// Text format (UTF-8), documented for users in tools/sample/README.md:
//
//   # a comment line
//   [stream]
//   start = 2026-12-08 21:59:59     broadcast time (JST) of the first packet
//   duration = 3                    seconds of stream (decimals allowed)
//   bitrate = 16000000              nominal bit/s: fixes the pace of TOT and PCR
//   tot-interval = 2                seconds between TOTs (default 5)
//   transport-stream-id = 0x7FE0
//   original-network-id = 0x7FE0
//   network-name = ...
//
//   [service 0x0400]
//   type = 0x01                     service_type (0x01 TV, 0xC0 one-segment)
//   pmt = 0x0101                    PMT PID (0x1FC8 for the one-segment service)
//   pcr = 0x0111                    PCR PID: an elementary PID or a PID of its own
//   name = ...
//   provider = ...
//   video = 0x0111 mpeg2 9000 0x00 1440x1080
//                                   PID, codec (mpeg2 | h264), kbit/s,
//                                   [component_tag [picture size]]
//   audio = 0x0112 aac 192 0x10     PID, codec (aac), kbit/s, component_tag
//   captions = 0x0130 0x87          caption stream: PID, component_tag (default 0x87)
//   transport-stream-id = 0x4011    a service of another transport stream (ids
//   original-network-id = 4         other than the stream's): no PMT nor
//                                   streams; named in the SDT other (0x46), its
//                                   EIT p/f other (0x4F) and schedule other
//                                   (0x60-0x6F) sent on PID 0x0012
//
//   [caption 0x0588]                a caption statement of service 0x0588
//   at = 0.5                        seconds from the start of the stream
//   text = ...                      the screen's text (\n: next line); empty clears it
//
//   [event 0x0400]                  an event of service 0x0400
//   id = 0x1001
//   start = 2026-12-08 21:00:00
//   duration = 01:00:00             or "undetermined"
//   title = ...                     \n: line break; \{字} or \{7A56}: an ARIB
//   text = ...                      additional symbol; \\: a backslash
//   video = 0xB3 0x00               component descriptor: component_type [, tag]
//   audio = stereo jpn              audio component: mode language [language2]
//                                   [sub] [quality N]; may repeat
//   genre = 0x31 0x30               content descriptor entries (level 1 << 4 |
//                                   level 2); may repeat
//   item = 出演者 | ...              extended event item: description | text;
//                                   may repeat, in this order
//   item-bytes = 249                length_of_items of each extended event
//                                   descriptor at most (16..249, default 249)
//   free-ca = 1                     free_CA_mode (default 0)
//   series = ID REPEAT PATTERN EPISODE LAST [EXPIRE-DATE] | name
//                                   series descriptor (EXPIRE-DATE yyyy-mm-dd)
//   group = TYPE SID:EID [SID:EID ...] [NID:TSID:SID:EID ...]
//                                   event group descriptor; may repeat
//   from = 2026-12-08 21:00:00      the EIT carries the event from this broadcast
//   until = 2026-12-08 21:00:01     time, and before this one only (an update)
//   version = 3                     version_number of the schedule section that
//                                   carries the event (the highest of its events)
//
// With "schedule = on" in [stream] the EIT schedule is sent as well, every
// "schedule-interval" seconds (default 2): basic tables 0x50/0x51 with each
// event's short event, component, audio and content descriptors (and series,
// group), extended tables 0x58/0x59 with its items; one section per
// three-hour segment from midnight of the stream's first day, eight days.
// "schedule-spread = on" spreads the services' schedules over the interval
// (service k of n starts k/n of it later) instead of sending them together.
#ifndef KESTRIN_TOOLS_GEN_SCENARIO_H
#define KESTRIN_TOOLS_GEN_SCENARIO_H

#include <cstdint>
#include <climits>
#include <string>
#include <vector>

namespace gen {

enum class Codec { kMpeg2Video, kH264, kAac, kCaption };

struct ElementaryStream {
    uint16_t pid = 0;
    Codec codec = Codec::kAac;
    uint8_t streamType = 0;  // PMT stream_type of the codec
    uint32_t kbps = 0;
    uint8_t componentTag = 0;
    uint32_t width = 0;   // video picture size
    uint32_t height = 0;
    bool isVideo() const { return codec == Codec::kMpeg2Video || codec == Codec::kH264; }
};

struct Service {
    uint16_t id = 0;
    uint8_t type = 0x01;
    uint16_t pmtPid = 0;
    uint16_t pcrPid = 0x1FFF;
    std::string name;      // Shift_JIS
    std::string provider;  // Shift_JIS
    std::vector<ElementaryStream> streams;
    // Ids of the transport stream that carries the service; -1: the
    // stream's own. A service of another transport stream has no PMT.
    int32_t transportStreamId = -1;
    int32_t originalNetworkId = -1;
};

struct AudioComponent {
    uint8_t componentType = 0x03;
    std::string language = "jpn";
    std::string language2;  // dual mono only
    bool main = true;
    uint8_t quality = 1;
};

// An extended event item (Shift_JIS).
struct EventItem {
    std::string description;
    std::string text;
};

struct Event {
    uint16_t serviceId = 0;
    uint16_t eventId = 0;
    int64_t start = 0;         // seconds since MJD 0, 00:00:00
    int64_t duration = -1;     // seconds; -1 undetermined
    std::string title;         // Shift_JIS (additional symbols included)
    std::string text;          // Shift_JIS
    int videoType = -1;        // component_type; -1: no component descriptor
    uint8_t videoTag = 0x00;
    std::vector<AudioComponent> audio;
    std::vector<uint8_t> genres;  // content entries, nibble levels 1 and 2
    std::vector<EventItem> items;
    size_t itemBytes = 249;       // length_of_items per extended event descriptor
    bool freeCa = false;
    bool hasSeries = false;
    uint16_t seriesId = 0;
    uint8_t repeatLabel = 0;
    uint8_t programPattern = 0;
    uint16_t episode = 0;
    uint16_t lastEpisode = 0;
    int64_t seriesExpire = -1;  // seconds since MJD 0 of the expiry date; -1 none
    std::string seriesName;     // Shift_JIS
    struct Group {
        uint8_t type = 1;
        std::vector<uint32_t> events;  // service_id << 16 | event_id
        std::vector<uint64_t> otherNetworkEvents;  // nid << 48 | tsid << 32 | sid << 16 | eid
    };
    std::vector<Group> groups;
    int64_t from = 0;             // seconds since MJD 0; the EIT carries the event from then
    int64_t until = INT64_MAX;    // and before this
    uint8_t version = 0;          // of the schedule section that carries it
};

// One caption statement: the screen is cleared and the text written.
struct Caption {
    uint16_t serviceId = 0;
    int64_t atMs = 0;
    std::string text;  // Shift_JIS, lines joined by CR LF
};

struct Scenario {
    int64_t start = 0;  // seconds since MJD 0
    int64_t durationMs = 0;
    uint64_t bitrate = 16000000;
    int64_t totIntervalMs = 5000;
    uint16_t transportStreamId = 0x7FE0;
    uint16_t originalNetworkId = 0x7FE0;
    std::string networkName;  // Shift_JIS
    // `layers = partial-reception`: only the one-segment layer's packets
    // (tools/gen/partial_reception.h); `all`, the default, the multiplex.
    bool partialReceptionOnly = false;
    std::vector<Service> services;
    std::vector<Event> events;  // sorted by service, then start
    std::vector<Caption> captions;  // in the order of the file
    bool schedule = false;      // send the EIT schedule
    int64_t scheduleIntervalMs = 2000;
    bool scheduleSpread = false;  // services' schedules spread over the interval
};

// The transport stream ids of a service (the stream's own unless it says
// otherwise), and whether it belongs to another transport stream.
uint16_t ServiceTransportStreamId(const Scenario& scenario, const Service& service);
uint16_t ServiceOriginalNetworkId(const Scenario& scenario, const Service& service);
bool IsOtherTransportStream(const Scenario& scenario, const Service& service);

// Parses the scenario text. On failure returns false and sets `error` to a
// message naming the line.
bool ParseScenario(const std::string& text, Scenario& scenario, std::string& error);

// The descriptors of an event's programme details, in the order the EIT
// carries them: its extended event descriptors, then its content
// descriptor. False (with `error`) when they cannot be built.
bool EventDetailDescriptors(const Event& event, std::vector<std::vector<uint8_t>>& descriptors,
                            std::string& error);

// Seconds since MJD 0 of a civil date and time.
int64_t SecondsOf(int year, int month, int day, int hour, int minute, int second);

}  // namespace gen

#endif
