#include "tools/gen/scenario.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

#include "tools/streamkit/arib_encoder.h"
#include "tools/common/arib_symbols.h"
#include "tools/gen/elementary_streams.h"
#include "tools/gen/event_descriptors.h"
#include "tools/gen/scenario_values.h"
#include "text/arib_charset.h"

namespace gen {

namespace {

// A caption stream's nominal rate, for the pace of its packets.
const uint32_t kCaptionKbps = 64;
// ARIB bytes of one caption statement's text at most.
const size_t kMaxCaptionTextBytes = 4000;


// Longest texts of one short event descriptor: 3 bytes of language, two
// length bytes, and the two texts within descriptor_length 255.
const size_t kMaxEventTextBytes = 250;
// Bytes of an event's detail descriptors: an EIT section of one event has
// 4,066 bytes for descriptors; the rest is left for the short event and the
// component descriptors.
const size_t kMaxEventDetailBytes = 3500;
const size_t kMinItemBytes = 16;
// Service descriptor: service_type and two length bytes within 255.
const size_t kMaxServiceNameBytes = 252;

bool ParseStream(const std::string& value, bool video, ElementaryStream& es) {
    const std::vector<std::string> w = Words(value);
    if (w.size() < 3 || w.size() > (video ? 5u : 4u)) return false;
    int64_t pid, kbps, tag = video ? 0x00 : 0x10;
    if (!ParseInt(w[0], 0x0020, 0x1FFE, pid) || !ParseInt(w[2], 1, 100000, kbps)) return false;
    if (w.size() >= 4 && !ParseInt(w[3], 0, 0xFF, tag)) return false;
    int64_t width = 0, height = 0;
    if (w.size() == 5) {
        const size_t x = w[4].find('x');
        if (x == std::string::npos || !ParseInt(w[4].substr(0, x), 16, 1920, width) ||
            !ParseInt(w[4].substr(x + 1), 16, 1088, height)) {
            return false;
        }
    }
    if (video && w[1] == "mpeg2") {
        es.codec = Codec::kMpeg2Video;
        es.streamType = 0x02;
        es.width = width != 0 ? static_cast<uint32_t>(width) : 1440;
        es.height = height != 0 ? static_cast<uint32_t>(height) : 1080;
    } else if (video && w[1] == "h264") {
        if (width != 0 && (width != 320 || height != 240)) return false;  // one-segment size only
        es.codec = Codec::kH264;
        es.streamType = 0x1B;
        es.width = 320;
        es.height = 240;
    } else if (!video && w[1] == "aac") {
        es.codec = Codec::kAac;
        es.streamType = 0x0F;
    } else {
        return false;
    }
    es.pid = static_cast<uint16_t>(pid);
    es.kbps = static_cast<uint32_t>(kbps);
    es.componentTag = static_cast<uint8_t>(tag);
    return true;
}

bool IsLanguage(const std::string& w) {
    return w.size() == 3 && std::all_of(w.begin(), w.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

bool ParseAudioComponent(const std::string& value, AudioComponent& a) {
    const std::vector<std::string> w = Words(value);
    if (w.size() < 2) return false;
    static const struct {
        const char* name;
        uint8_t type;
    } kModes[] = {{"mono", 0x01}, {"dual", 0x02}, {"stereo", 0x03}, {"3/1", 0x07}, {"3/2", 0x08}, {"5.1", 0x09}};
    int64_t type = -1;
    for (const auto& m : kModes) {
        if (w[0] == m.name) type = m.type;
    }
    if (type < 0 && !ParseInt(w[0], 0, 0xFF, type)) return false;
    a.componentType = static_cast<uint8_t>(type);
    if (!IsLanguage(w[1])) return false;
    a.language = w[1];
    for (size_t i = 2; i < w.size(); ++i) {
        int64_t q;
        if (w[i] == "sub") {
            a.main = false;
        } else if (w[i] == "quality" && i + 1 < w.size() && ParseInt(w[i + 1], 0, 3, q)) {
            a.quality = static_cast<uint8_t>(q);
            ++i;
        } else if (IsLanguage(w[i]) && a.language2.empty()) {
            a.language2 = w[i];
        } else {
            return false;
        }
    }
    return true;
}

bool Validate(Scenario& sc, std::string& error) {
    if (sc.start == 0) return (error = "[stream] needs a start", false);
    if (sc.durationMs <= 0) return (error = "[stream] needs a duration above 0", false);
    if (sc.services.empty()) return (error = "no [service] section", false);
    std::set<uint16_t> ids;
    std::set<uint16_t> pids;
    uint64_t bits = 0;
    for (const Service& s : sc.services) {
        if (!ids.insert(s.id).second) return (error = "service " + std::to_string(s.id) + " twice", false);
        if (AribSize(s.name) + AribSize(s.provider) > kMaxServiceNameBytes) {
            return (error = "service " + std::to_string(s.id) + ": name and provider too long", false);
        }
        if (IsOtherTransportStream(sc, s)) {
            // Only named and scheduled: another transport stream carries it.
            if (s.pmtPid != 0 || !s.streams.empty() || s.pcrPid != 0x1FFF) {
                return (error = "service " + std::to_string(s.id) +
                                " of another transport stream takes no pmt, pcr or streams", false);
            }
            continue;
        }
        if (s.pmtPid == 0) return (error = "service " + std::to_string(s.id) + " needs a pmt", false);
        if (!pids.insert(s.pmtPid).second) return (error = "PID " + std::to_string(s.pmtPid) + " used twice", false);
        bool pcrIsStream = false;
        for (const ElementaryStream& es : s.streams) {
            if (!pids.insert(es.pid).second) return (error = "PID " + std::to_string(es.pid) + " used twice", false);
            if (es.pid == s.pcrPid) pcrIsStream = true;
            bits += static_cast<uint64_t>(es.kbps) * 1000;
            // Every MPEG-2 picture is a whole I picture; it must fit the
            // bytes a frame period gives at this rate (29.97 Hz).
            if (es.codec == Codec::kMpeg2Video &&
                static_cast<uint64_t>(Mpeg2IntraPictureBytes(es.width, es.height)) * 8 * 30000 / 1001 >
                    static_cast<uint64_t>(es.kbps) * 1000) {
                return (error = "PID " + std::to_string(es.pid) + ": too few kbit/s for " +
                                std::to_string(es.width) + "x" + std::to_string(es.height) + " pictures",
                        false);
            }
        }
        if (!pcrIsStream && !pids.insert(s.pcrPid).second) {
            return (error = "PCR PID " + std::to_string(s.pcrPid) + " used twice", false);
        }
    }
    if (std::none_of(sc.services.begin(), sc.services.end(),
                     [&sc](const Service& s) { return !IsOtherTransportStream(sc, s); })) {
        return (error = "no [service] of the stream's own transport stream", false);
    }
    // Headers, adaptation fields and service information need room too.
    if (bits + bits / 10 + 500000 > sc.bitrate) {
        return (error = "the elementary streams need more than the bitrate allows", false);
    }
    for (const Caption& c : sc.captions) {
        bool hasStream = false;
        for (const Service& s : sc.services) {
            if (s.id != c.serviceId) continue;
            for (const ElementaryStream& es : s.streams) hasStream = hasStream || es.codec == Codec::kCaption;
        }
        if (!hasStream) {
            return (error = "a caption of service " + std::to_string(c.serviceId) + ", which has no captions stream",
                    false);
        }
        if (c.atMs < 0 || c.atMs >= sc.durationMs) return (error = "a caption outside the stream's duration", false);
        if (AribSize(c.text) > kMaxCaptionTextBytes) return (error = "a caption text longer than 4000 bytes", false);
    }
    for (const Event& e : sc.events) {
        if (e.start == 0) return (error = "event " + std::to_string(e.eventId) + " needs a start", false);
        if (!ids.count(e.serviceId)) {
            return (error = "an event of service " + std::to_string(e.serviceId) + ", which is not described", false);
        }
        if (AribSize(e.title) + AribSize(e.text) > kMaxEventTextBytes) {
            return (error = "event " + std::to_string(e.eventId) + ": title and text too long for one short event "
                            "descriptor", false);
        }
        std::vector<std::vector<uint8_t>> details;
        std::string why;
        if (!EventDetailDescriptors(e, details, why)) {
            return (error = "event " + std::to_string(e.eventId) + ": " + why, false);
        }
        size_t detailBytes = 0;
        for (const auto& d : details) detailBytes += d.size();
        if (detailBytes > kMaxEventDetailBytes) {
            return (error = "event " + std::to_string(e.eventId) + ": items and genres take " +
                            std::to_string(detailBytes) + " bytes, more than one EIT section leaves (" +
                            std::to_string(kMaxEventDetailBytes) + ")", false);
        }
    }
    std::stable_sort(sc.events.begin(), sc.events.end(), [](const Event& a, const Event& b) {
        return a.serviceId != b.serviceId ? a.serviceId < b.serviceId : a.start < b.start;
    });
    return true;
}

}  // namespace

bool EventDetailDescriptors(const Event& event, std::vector<std::vector<uint8_t>>& descriptors, std::string& error) {
    std::vector<AribItem> items;
    for (const EventItem& item : event.items) {
        items.push_back({AribBytes(item.description), AribBytes(item.text)});
    }
    if (!ExtendedEventDescriptors(items, event.itemBytes, descriptors, error)) return false;
    if (!event.genres.empty()) descriptors.push_back(ContentDescriptor(event.genres));
    return true;
}

uint16_t ServiceTransportStreamId(const Scenario& scenario, const Service& service) {
    return static_cast<uint16_t>(service.transportStreamId >= 0 ? service.transportStreamId
                                                                : scenario.transportStreamId);
}

uint16_t ServiceOriginalNetworkId(const Scenario& scenario, const Service& service) {
    return static_cast<uint16_t>(service.originalNetworkId >= 0 ? service.originalNetworkId
                                                                : scenario.originalNetworkId);
}

bool IsOtherTransportStream(const Scenario& scenario, const Service& service) {
    return ServiceTransportStreamId(scenario, service) != scenario.transportStreamId ||
           ServiceOriginalNetworkId(scenario, service) != scenario.originalNetworkId;
}

int64_t SecondsOf(int year, int month, int day, int hour, int minute, int second) {
    // Days from 1970-01-01 of a proleptic Gregorian date; MJD 40587 is that day.
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = y / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468;
    return (days + 40587) * 86400 + hour * 3600 + minute * 60 + second;
}

bool ParseScenario(const std::string& text, Scenario& sc, std::string& error) {
    sc = Scenario();
    enum class Part { kNone, kStream, kService, kEvent, kCaption } part = Part::kNone;
    size_t lineStart = 0;
    int lineNumber = 0;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(lineNumber) + ": " + why;
        return false;
    };
    while (lineStart <= text.size()) {
        size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string::npos) lineEnd = text.size();
        const std::string line = Trim(text.substr(lineStart, lineEnd - lineStart));
        lineStart = lineEnd + 1;
        ++lineNumber;
        if (line.empty() || line[0] == '#') continue;

        if (line[0] == '[') {
            if (line.back() != ']') return fail("a section header ends with ]");
            const std::vector<std::string> w = Words(line.substr(1, line.size() - 2));
            int64_t id = 0;
            if (w.size() == 1 && w[0] == "stream") {
                part = Part::kStream;
            } else if (w.size() == 2 && w[0] == "service" && ParseInt(w[1], 1, 0xFFFF, id)) {
                part = Part::kService;
                sc.services.emplace_back();
                sc.services.back().id = static_cast<uint16_t>(id);
            } else if (w.size() == 2 && w[0] == "event" && ParseInt(w[1], 1, 0xFFFF, id)) {
                part = Part::kEvent;
                sc.events.emplace_back();
                sc.events.back().serviceId = static_cast<uint16_t>(id);
            } else if (w.size() == 2 && w[0] == "caption" && ParseInt(w[1], 1, 0xFFFF, id)) {
                part = Part::kCaption;
                sc.captions.emplace_back();
                sc.captions.back().serviceId = static_cast<uint16_t>(id);
            } else {
                return fail("unknown section " + line +
                            " (expected [stream], [service ID], [event SERVICE] or [caption SERVICE])");
            }
            continue;
        }

        const size_t eq = line.find('=');
        if (eq == std::string::npos) return fail("expected key = value");
        const std::string key = Trim(line.substr(0, eq));
        const std::string value = Trim(line.substr(eq + 1));
        int64_t n = 0;
        std::string why;
        switch (part) {
            case Part::kNone:
                return fail("a key before the first section");
            case Part::kStream:
                if (key == "start") {
                    if (!ParseDateTime(value, sc.start)) return fail("start wants yyyy-mm-dd hh:mm:ss");
                } else if (key == "duration") {
                    if (!ParseSecondsMs(value, sc.durationMs)) return fail("duration wants seconds, such as 3 or 2.5");
                } else if (key == "bitrate") {
                    if (!ParseInt(value, 1000000, 100000000, n)) return fail("bitrate wants 1000000..100000000 bit/s");
                    sc.bitrate = static_cast<uint64_t>(n);
                } else if (key == "tot-interval") {
                    if (!ParseSecondsMs(value, sc.totIntervalMs) || sc.totIntervalMs < 100) {
                        return fail("tot-interval wants seconds, at least 0.1");
                    }
                } else if (key == "transport-stream-id") {
                    if (!ParseInt(value, 0, 0xFFFF, n)) return fail("transport-stream-id wants 0..0xFFFF");
                    sc.transportStreamId = static_cast<uint16_t>(n);
                } else if (key == "original-network-id") {
                    if (!ParseInt(value, 0, 0xFFFF, n)) return fail("original-network-id wants 0..0xFFFF");
                    sc.originalNetworkId = static_cast<uint16_t>(n);
                } else if (key == "network-name") {
                    if (!ParseText(value, sc.networkName, why)) return fail(why);
                } else if (key == "schedule") {
                    if (value != "on" && value != "off") return fail("schedule wants on or off");
                    sc.schedule = value == "on";
                } else if (key == "schedule-interval") {
                    if (!ParseSecondsMs(value, sc.scheduleIntervalMs) || sc.scheduleIntervalMs < 100) {
                        return fail("schedule-interval wants seconds, at least 0.1");
                    }
                } else if (key == "schedule-spread") {
                    if (value != "on" && value != "off") return fail("schedule-spread wants on or off");
                    sc.scheduleSpread = value == "on";
                } else if (key == "layers") {
                    if (value != "all" && value != "partial-reception") return fail("layers wants all or partial-reception");
                    sc.partialReceptionOnly = value == "partial-reception";
                } else {
                    return fail("unknown key " + key + " in [stream]");
                }
                break;
            case Part::kService: {
                Service& s = sc.services.back();
                ElementaryStream es;
                if (key == "type") {
                    if (!ParseInt(value, 0, 0xFF, n)) return fail("type wants a service_type 0..0xFF");
                    s.type = static_cast<uint8_t>(n);
                } else if (key == "pmt") {
                    if (!ParseInt(value, 0x0020, 0x1FFE, n)) return fail("pmt wants a PID 0x0020..0x1FFE");
                    s.pmtPid = static_cast<uint16_t>(n);
                } else if (key == "pcr") {
                    if (!ParseInt(value, 0x0020, 0x1FFE, n)) return fail("pcr wants a PID 0x0020..0x1FFE");
                    s.pcrPid = static_cast<uint16_t>(n);
                } else if (key == "name") {
                    if (!ParseText(value, s.name, why)) return fail(why);
                } else if (key == "provider") {
                    if (!ParseText(value, s.provider, why)) return fail(why);
                } else if (key == "video" || key == "audio") {
                    if (!ParseStream(value, key == "video", es)) {
                        return fail(key == "video" ? "video wants: PID mpeg2|h264 kbit/s [component_tag [WxH]]"
                                                   : "audio wants: PID aac kbit/s [component_tag]");
                    }
                    s.streams.push_back(es);
                } else if (key == "transport-stream-id" || key == "original-network-id") {
                    if (!ParseInt(value, 0, 0xFFFF, n)) return fail(key + " wants 0..0xFFFF");
                    (key == "transport-stream-id" ? s.transportStreamId : s.originalNetworkId) = static_cast<int32_t>(n);
                } else if (key == "captions") {
                    const std::vector<std::string> w = Words(value);
                    int64_t pid = 0, tag = 0x87;
                    if (w.empty() || w.size() > 2 || !ParseInt(w[0], 0x0020, 0x1FFE, pid) ||
                        (w.size() == 2 && !ParseInt(w[1], 0, 0xFF, tag))) {
                        return fail("captions wants: PID [component_tag]");
                    }
                    es.codec = Codec::kCaption;
                    es.streamType = 0x06;
                    es.pid = static_cast<uint16_t>(pid);
                    es.kbps = kCaptionKbps;
                    es.componentTag = static_cast<uint8_t>(tag);
                    s.streams.push_back(es);
                } else {
                    return fail("unknown key " + key + " in [service]");
                }
                break;
            }
            case Part::kEvent: {
                Event& e = sc.events.back();
                int h, m, sec;
                if (key == "id") {
                    if (!ParseInt(value, 0, 0xFFFF, n)) return fail("id wants an event_id 0..0xFFFF");
                    e.eventId = static_cast<uint16_t>(n);
                } else if (key == "start") {
                    if (!ParseDateTime(value, e.start)) return fail("start wants yyyy-mm-dd hh:mm:ss");
                } else if (key == "duration") {
                    if (value == "undetermined") {
                        e.duration = -1;
                    } else if (ParseClock(value, h, m, sec)) {
                        e.duration = h * 3600 + m * 60 + sec;
                    } else {
                        return fail("duration wants hh:mm:ss or undetermined");
                    }
                } else if (key == "title") {
                    if (!ParseText(value, e.title, why)) return fail(why);
                } else if (key == "text") {
                    if (!ParseText(value, e.text, why)) return fail(why);
                } else if (key == "video") {
                    const std::vector<std::string> w = Words(value);
                    int64_t tag = 0;
                    if (w.empty() || w.size() > 2 || !ParseInt(w[0], 0, 0xFF, n) ||
                        (w.size() == 2 && !ParseInt(w[1], 0, 0xFF, tag))) {
                        return fail("video wants: component_type [component_tag]");
                    }
                    e.videoType = static_cast<int>(n);
                    e.videoTag = static_cast<uint8_t>(tag);
                } else if (key == "audio") {
                    AudioComponent a;
                    if (!ParseAudioComponent(value, a)) {
                        return fail("audio wants: mono|dual|stereo|3/1|3/2|5.1 language [language2] [sub] [quality N]");
                    }
                    e.audio.push_back(a);
                } else if (key == "genre") {
                    const std::vector<std::string> w = Words(value);
                    if (w.empty()) return fail("genre wants content entries such as 0x31 0x30");
                    for (const std::string& word : w) {
                        if (!ParseInt(word, 0, 0xFF, n)) return fail("genre wants content entries 0x00..0xFF, not " + word);
                        e.genres.push_back(static_cast<uint8_t>(n));
                    }
                    if (e.genres.size() > kMaxContentEntries) {
                        return fail("at most " + std::to_string(kMaxContentEntries) + " genre entries");
                    }
                } else if (key == "item") {
                    // The first | ends the description; the text may hold more.
                    const size_t bar = value.find('|');
                    if (bar == std::string::npos) return fail("item wants: description | text");
                    EventItem item;
                    if (!ParseText(Trim(value.substr(0, bar)), item.description, why)) return fail(why);
                    if (!ParseText(Trim(value.substr(bar + 1)), item.text, why)) return fail(why);
                    // An empty description would read as the previous item's continuation.
                    if (item.description.empty()) return fail("item wants a description before the |");
                    e.items.push_back(item);
                } else if (key == "item-bytes") {
                    if (!ParseInt(value, static_cast<int64_t>(kMinItemBytes),
                                  static_cast<int64_t>(kMaxItemBytesPerDescriptor), n)) {
                        return fail("item-bytes wants " + std::to_string(kMinItemBytes) + ".." +
                                    std::to_string(kMaxItemBytesPerDescriptor));
                    }
                    e.itemBytes = static_cast<size_t>(n);
                } else if (key == "free-ca") {
                    if (value != "0" && value != "1") return fail("free-ca wants 0 or 1");
                    e.freeCa = value == "1";
                } else if (key == "from" || key == "until") {
                    if (!ParseDateTime(value, key == "from" ? e.from : e.until)) {
                        return fail(key + " wants yyyy-mm-dd hh:mm:ss");
                    }
                } else if (key == "version") {
                    if (!ParseInt(value, 0, 31, n)) return fail("version wants 0..31");
                    e.version = static_cast<uint8_t>(n);
                } else if (key == "series") {
                    const size_t bar = value.find('|');
                    const std::vector<std::string> w = Words(Trim(value.substr(0, bar)));
                    int64_t f[5];
                    const int64_t limits[5] = {0xFFFF, 15, 7, 0xFFF, 0xFFF};
                    bool ok = bar != std::string::npos && (w.size() == 5 || w.size() == 6);
                    for (size_t i = 0; ok && i < 5; ++i) ok = ParseInt(w[i], 0, limits[i], f[i]);
                    if (ok && w.size() == 6) ok = ParseDateTime(w[5] + " 00:00:00", e.seriesExpire);
                    if (!ok) return fail("series wants: ID REPEAT PATTERN EPISODE LAST [yyyy-mm-dd] | name");
                    if (!ParseText(Trim(value.substr(bar + 1)), e.seriesName, why)) return fail(why);
                    e.hasSeries = true;
                    e.seriesId = static_cast<uint16_t>(f[0]);
                    e.repeatLabel = static_cast<uint8_t>(f[1]);
                    e.programPattern = static_cast<uint8_t>(f[2]);
                    e.episode = static_cast<uint16_t>(f[3]);
                    e.lastEpisode = static_cast<uint16_t>(f[4]);
                } else if (key == "group") {
                    const std::vector<std::string> w = Words(value);
                    Event::Group g;
                    bool ok = w.size() >= 2 && ParseInt(w[0], 1, 15, n);
                    g.type = static_cast<uint8_t>(n);
                    for (size_t i = 1; ok && i < w.size(); ++i) {
                        std::vector<int64_t> parts;
                        size_t at = 0;
                        while (ok) {
                            const size_t colon = w[i].find(':', at);
                            int64_t v = 0;
                            ok = ParseInt(w[i].substr(at, colon == std::string::npos ? std::string::npos : colon - at), 0,
                                          0xFFFF, v);
                            parts.push_back(v);
                            if (colon == std::string::npos) break;
                            at = colon + 1;
                        }
                        if (ok && parts.size() == 2) {
                            g.events.push_back(static_cast<uint32_t>(parts[0] << 16 | parts[1]));
                        } else if (ok && parts.size() == 4) {
                            g.otherNetworkEvents.push_back(static_cast<uint64_t>(parts[0]) << 48 |
                                                           static_cast<uint64_t>(parts[1]) << 32 |
                                                           static_cast<uint64_t>(parts[2]) << 16 |
                                                           static_cast<uint64_t>(parts[3]));
                        } else {
                            ok = false;
                        }
                    }
                    if (!ok || g.events.size() > 15) return fail("group wants: TYPE SID:EID ... [NID:TSID:SID:EID ...]");
                    e.groups.push_back(g);
                } else {
                    return fail("unknown key " + key + " in [event]");
                }
                break;
            }
            case Part::kCaption: {
                Caption& c = sc.captions.back();
                if (key == "at") {
                    if (!ParseSecondsMs(value, c.atMs)) return fail("at wants seconds, such as 0.5");
                } else if (key == "text") {
                    if (!ParseText(value, c.text, why)) return fail(why);
                } else {
                    return fail("unknown key " + key + " in [caption]");
                }
                break;
            }
        }
    }
    return Validate(sc, error);
}

}  // namespace gen
