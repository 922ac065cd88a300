#include "tools/info/xmltv_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "text/event_details.h"
#include "text/genre_names_table.h"
#include "text/genre_table.h"
#include "tools/info/cp932_utf8.h"
#include "tools/info/genre_english.h"
#include "ts/calendar.h"

namespace {

const int64_t kChannelIdNetworkFactor = 100000;
const uint32_t kReplacementCharacter = 0xFFFD;

std::string Number(int64_t value) { return std::to_string(value); }

int64_t ChannelId(uint32_t serviceKey) {
    return static_cast<int64_t>(serviceKey >> 16) * kChannelIdNetworkFactor + (serviceKey & 0xFFFF);
}

// XML 1.0's Char production: tab, the line breaks, and everything from
// U+0020 except the surrogates, U+FFFE and U+FFFF.
bool IsXmlCharacter(uint32_t c) {
    if (c < 0x20) return c == 0x09 || c == 0x0A || c == 0x0D;
    if (c >= 0xD800 && c <= 0xDFFF) return false;
    return c != 0xFFFE && c != 0xFFFF && c <= 0x10FFFF;
}

// The next code point of UTF-8 `text` at `at` (moved past it); a byte that
// does not start a whole, shortest-form sequence reads as U+FFFD and is
// passed over alone.
uint32_t NextCodePoint(const std::string& text, size_t& at) {
    const uint8_t lead = static_cast<uint8_t>(text[at]);
    int32_t length = 0;
    uint32_t c = 0;
    uint32_t minimum = 0;
    if (lead < 0x80) {
        ++at;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, c = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, c = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, c = lead & 0x07, minimum = 0x10000;
    } else {
        ++at;
        return kReplacementCharacter;
    }
    if (at + static_cast<size_t>(length) > text.size()) {
        ++at;
        return kReplacementCharacter;
    }
    for (int32_t k = 1; k < length; ++k) {
        const uint8_t next = static_cast<uint8_t>(text[at + static_cast<size_t>(k)]);
        if ((next & 0xC0) != 0x80) {
            ++at;
            return kReplacementCharacter;
        }
        c = c << 6 | (next & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++at;
        return kReplacementCharacter;
    }
    at += static_cast<size_t>(length);
    return c;
}

// Line breaks of the decoder ("\r\n" for APR) and lone "\r" as "\n", and no
// line break at the end: the parts of a desc are joined by blank lines.
std::string TrimmedLines(const std::string& text) {
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            lines += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            lines += text[i];
        }
    }
    while (!lines.empty() && lines.back() == '\n') lines.pop_back();
    return lines;
}

// The Japanese category of a content entry, "大分類 - 中分類" (the genre
// line without its prefix); empty for reserved and unassigned entries and for
// the extension level, which names no genre.
std::string GenreJapanese(uint8_t nibbles) {
    if ((nibbles >> 4) == kGenreExtension) return std::string();
    char line[kGenreLineSize];
    if (FormatGenreLine(line, kGenreLineSize, nibbles) == 0) return std::string();
    const size_t prefix = std::strlen(kGenrePrefix);
    if (std::strncmp(line, kGenrePrefix, prefix) != 0) return std::string();
    return Cp932ToUtf8(line + prefix);
}

void AppendElement(std::string& out, const char* name, const char* attributes, const std::string& text) {
    out += std::string("    <") + name + attributes + ">";
    AppendXmlText(out, text);
    out += std::string("</") + name + ">\n";
}

std::string Description(const EitEventRecord& r) {
    std::vector<std::string> parts;
    if (r.hasShortEvent) parts.push_back(TrimmedLines(EpgUtf8(r.text, r.textSize)));
    for (const auto& item : EpgExtendedItems(r)) {
        const std::string heading = TrimmedLines(item.first);
        const std::string text = TrimmedLines(item.second);
        parts.push_back(heading.empty() ? text : text.empty() ? heading : heading + "\n" + text);
    }
    if (r.extended.textSize > 0) parts.push_back(TrimmedLines(EpgUtf8(r.extended.text, r.extended.textSize)));
    // The series and relay lines as the viewer's details show them.
    std::unique_ptr<EventDetails> details(new EventDetails);
    EitEventDetails(r, SymbolStyle::kUserDefined, *details);
    std::string links = Cp932ToUtf8WithSymbols(details->series);
    const std::string relay = Cp932ToUtf8WithSymbols(details->relay);
    if (!relay.empty()) links += (links.empty() ? "" : "\n") + relay;
    parts.push_back(links);
    std::string desc;
    for (const std::string& part : parts) {
        if (part.empty()) continue;
        if (!desc.empty()) desc += "\n\n";
        desc += part;
    }
    return desc;
}

struct Programme {
    int64_t channel;
    int64_t start;
    uint16_t eventId;
    std::string xml;
};

// The programme's element, stopping at `end` (its duration, or the
// collector's end for an undetermined one), or false (and a warning) when
// its start is not known.
bool MakeProgramme(const EitEventRecord& r, int64_t end, Programme& p, std::string& warnings) {
    const int64_t channel = ChannelId(EpgServiceKey(r.originalNetworkId, r.serviceId));
    if (!r.startDetermined) {
        warnings += "service " + Number(r.serviceId) + " event " + Number(r.eventId) + ": left out of the XMLTV, its " +
                    (!r.startDetermined ? (!r.durationDetermined ? "start and duration are" : "start is")
                                        : "duration is") +
                    " undetermined\n";
        return false;
    }
    p.channel = channel;
    p.start = r.start;
    p.eventId = r.eventId;
    std::string& out = p.xml;
    out = "  <programme start=\"" + XmltvTime(r.start) + "\" stop=\"" + XmltvTime(end) +
          "\" channel=\"" + Number(channel) + "\">\n";
    AppendElement(out, "title", " lang=\"ja\"", r.hasShortEvent ? TrimmedLines(EpgUtf8(r.name, r.nameSize)) : "");
    const std::string desc = Description(r);
    if (!desc.empty()) AppendElement(out, "desc", " lang=\"ja\"", desc);
    std::set<uint8_t> genresSeen;
    std::set<std::string> englishSeen;
    for (int32_t i = 0; i < r.genreCount && i < kMaxEventGenres; ++i) {
        const uint8_t nibbles = static_cast<uint8_t>(r.genres[i].level1 << 4 | (r.genres[i].level2 & 0x0F));
        if (!genresSeen.insert(nibbles).second) continue;
        const std::string japanese = GenreJapanese(nibbles);
        if (japanese.empty()) continue;
        AppendElement(out, "category", " lang=\"ja\"", japanese);
        const char* english = GenreEnglish(nibbles);
        if (english != nullptr && englishSeen.insert(english).second) {
            AppendElement(out, "category", " lang=\"en\"", english);
        }
    }
    if (r.hasSeries && r.series.episodeNumber > 0) {
        // xmltv_ns counts from zero: "season.episode/total.part".
        const EitSeries& s = r.series;
        std::string ns = "." + Number(s.episodeNumber - 1);
        if (s.lastEpisodeNumber >= s.episodeNumber) ns += "/" + Number(s.lastEpisodeNumber);
        AppendElement(out, "episode-num", " system=\"xmltv_ns\"", ns + ".");
        AppendElement(out, "episode-num", " system=\"onscreen\"", "第" + Number(s.episodeNumber) + "回");
    }
    out += "  </programme>\n";
    return true;
}

}  // namespace

void AppendXmlText(std::string& out, const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        const uint32_t c = NextCodePoint(text, at);
        if (c == '\r') {
            out += '\n';
            if (at < text.size() && text[at] == '\n') ++at;
            continue;
        }
        if (!IsXmlCharacter(c)) continue;
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: AppendUtf8(out, c); break;
        }
    }
}

std::string XmltvTime(int64_t japanSeconds) {
    const CivilDate date = CivilDateOfDay(DayOfJapanSeconds(japanSeconds));
    const int32_t second = SecondOfDay(japanSeconds);
    char text[128];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d +0900", static_cast<int>(date.year),
                  static_cast<int>(date.month), static_cast<int>(date.day), static_cast<int>(second / 3600),
                  static_cast<int>(second / 60 % 60), static_cast<int>(second % 60));
    return text;
}

std::string EpgXmltv(EpgCollector& collector, std::string& warnings) {
    std::vector<Programme> programmes;
    std::string leftOut;
    collector.ForEachTimedProgramme(
        [&](const EitEventRecord& record, int64_t end) {
            Programme p;
            if (MakeProgramme(record, end, p, leftOut)) programmes.push_back(std::move(p));
        },
        warnings);
    warnings += leftOut;
    std::stable_sort(programmes.begin(), programmes.end(), [](const Programme& a, const Programme& b) {
        if (a.channel != b.channel) return a.channel < b.channel;
        if (a.start != b.start) return a.start < b.start;
        return a.eventId < b.eventId;
    });

    std::map<int64_t, uint32_t> channels;
    for (uint32_t key : collector.EitServices()) channels[ChannelId(key)] = key;
    for (uint32_t key : collector.ActualServices()) channels[ChannelId(key)] = key;

    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE tv SYSTEM \"xmltv.dtd\">\n"
        "<tv generator-info-name=\"kestrin-info\">\n";
    const std::map<uint32_t, std::string>& names = collector.ServiceNames();
    for (const auto& channel : channels) {
        const std::string id = Number(channel.first);
        out += "  <channel id=\"" + id + "\">\n";
        const auto name = names.find(channel.second);
        if (name != names.end()) {
            AppendElement(out, "display-name", " lang=\"ja\"", Cp932ToUtf8WithSymbols(name->second));
        } else {
            AppendElement(out, "display-name", "", id);
        }
        out += "  </channel>\n";
    }
    for (const Programme& p : programmes) out += p.xml;
    out += "</tv>\n";
    return out;
}

std::string EpgXmltvFromStream(const uint8_t* data, size_t size, std::string& warnings) {
    std::unique_ptr<EpgCollector> collector(new EpgCollector);
    FeedEpgStream(*collector, data, size);
    return EpgXmltv(*collector, warnings);
}
