#include "tools/info/event_report.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include <memory>

#include "text/eit_event.h"
#include "text/event_formatter.h"
#include "tools/info/cp932_utf8.h"

namespace {

const char kUndetermined[] = "未定";
const char kTitleOpen[] = "【";
const char kTitleClose[] = "】";
const char kGenreHeading[] = "ジャンル：";
const int64_t kSecondsPerDay = 86400;

// "HH:MM:SS" at `text`, two digits or more per field as wsprintf's %2.2d
// prints them; advances `at` past it.
bool ReadClock(const std::string& text, size_t& at, TimeOfDay& t) {
    int32_t fields[3] = {0, 0, 0};
    for (int32_t f = 0; f < 3; ++f) {
        if (f > 0) {
            if (at >= text.size() || text[at] != ':') return false;
            ++at;
        }
        size_t digits = 0;
        int32_t value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 3) {
            value = value * 10 + (text[at] - '0');
            ++at;
            ++digits;
        }
        if (digits < 2) return false;
        fields[f] = value;
    }
    t.hour = fields[0];
    t.minute = fields[1];
    t.second = fields[2];
    t.valid = t.hour < 24 && t.minute < 60 && t.second < 60;
    return true;
}

bool StartsWith(const std::string& text, size_t at, const char* prefix) {
    return text.compare(at, std::strlen(prefix), prefix) == 0;
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp + (mp < 10 ? 3 : -9);
    y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

std::string IsoTime(int64_t seconds) {
    int64_t y, m, d;
    const int64_t days = seconds >= 0 ? seconds / kSecondsPerDay : (seconds - kSecondsPerDay + 1) / kSecondsPerDay;
    CivilFromDays(days, y, m, d);
    const int64_t inDay = seconds - days * kSecondsPerDay;
    // Room for any int64 year, which the compiler cannot rule out.
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld", static_cast<long long>(y),
                  static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(inDay / 3600),
                  static_cast<long long>(inDay / 60 % 60), static_cast<long long>(inDay % 60));
    return text;
}

std::string Convert(const char* sjis, size_t size, bool symbols) {
    size_t n = 0;
    while (n < size && sjis[n] != '\0') ++n;  // the fields are read only as far as they reach
    const std::string text(sjis, n);
    return symbols ? Cp932ToUtf8WithSymbols(text) : Cp932ToUtf8(text);
}

}  // namespace

void TakeEventSnapshot(PluginState& state, EventSnapshot& snapshot) {
    std::lock_guard<std::mutex> guard(state.lock);
    snapshot.view = state.view;
    snapshot.year = state.eventYear;
    snapshot.month = state.eventMonth;
    snapshot.day = state.eventDay;
    std::memcpy(&snapshot.details, state.view == View::kFollowing ? &state.followingDetails : &state.presentDetails,
                sizeof snapshot.details);
    snapshot.hasSection = CopySectionFromMailbox(
        state.view == View::kFollowing ? state.followingMailbox : state.presentMailbox, snapshot.section);
}

EitEventFields ReadEitEventFields(const EventSnapshot& snapshot, const std::string& shownSjis) {
    EitEventFields fields;
    if (!snapshot.hasSection) return fields;
    const uint8_t* section = snapshot.section.data;
    const int32_t size = snapshot.section.length;
    // The section must be the one whose text the window shows.
    std::unique_ptr<EventOutcome> outcome(new EventOutcome);
    FormatEvent(section, size, snapshot.view == View::kFollowing, SymbolStyle::kUserDefined, *outcome);
    if (!outcome->hasEvent || shownSjis != outcome->text) return fields;
    EitSectionHeader header;
    EitEventEntry entry;
    if (!ReadEitSectionHeader(section, size, header) || !ReadEitEventAt(section, size, kEitSectionHeaderSize, entry)) {
        return fields;
    }
    std::unique_ptr<EitEventRecord> record(new EitEventRecord);
    ReadEitEvent(header, entry, *record);
    fields.present = true;
    fields.eventId = record->eventId;
    fields.serviceId = record->serviceId;
    fields.transportStreamId = record->transportStreamId;
    fields.networkId = record->originalNetworkId;
    if (record->startDetermined) {
        fields.startAt = IsoTime(record->start) + "+09:00";
        if (record->durationDetermined) fields.endAt = IsoTime(record->start + record->duration) + "+09:00";
    }
    for (int32_t i = 0; i < record->genreCount && i < kMaxEventGenres; ++i) {
        const EitGenre& g = record->genres[i];
        fields.genres.push_back({g.level1, g.level2, g.user1, g.user2});
    }
    std::unique_ptr<char[]> text(new char[kFullDescriptionSize]);
    DecodeAribText(text.get(), record->text, record->textSize, kFullDescriptionSize, SymbolStyle::kUserDefined);
    fields.shortText = UnixLineBreaks(Cp932ToUtf8WithSymbols(text.get()));
    fields.textCut = outcome->textCut;
    return fields;
}

std::string UnixLineBreaks(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

EventTextParts SplitEventText(const std::string& utf8) {
    EventTextParts parts;
    const size_t lineEnd = utf8.find("\r\n");
    const std::string first = utf8.substr(0, lineEnd);
    size_t at = 0;
    if (StartsWith(first, at, kUndetermined)) {
        // "未定 - 未定 (未定)": the following event's start is undetermined.
    } else if (ReadClock(first, at, parts.start) && StartsWith(first, at, " - ")) {
        at += 3;
        if (!StartsWith(first, at, kUndetermined)) ReadClock(first, at, parts.end);
    } else {
        parts.start = TimeOfDay();
    }
    if (lineEnd == std::string::npos) return parts;
    // The title runs to the first 】 that ends a line (or the text).
    const size_t titleStart = lineEnd + 2;
    if (!StartsWith(utf8, titleStart, kTitleOpen)) {
        parts.description = UnixLineBreaks(utf8.substr(titleStart));
        return parts;
    }
    const size_t nameStart = titleStart + std::strlen(kTitleOpen);
    const std::string closeAndBreak = std::string(kTitleClose) + "\r\n";
    size_t close = utf8.find(closeAndBreak, nameStart);
    size_t descriptionStart = close + closeAndBreak.size();
    if (close == std::string::npos) {
        const size_t closeLength = std::strlen(kTitleClose);
        if (utf8.size() < nameStart + closeLength || utf8.compare(utf8.size() - closeLength, closeLength, kTitleClose) != 0) {
            parts.description = UnixLineBreaks(utf8.substr(titleStart));
            return parts;
        }
        close = utf8.size() - closeLength;
        descriptionStart = utf8.size();
    }
    parts.hasTitle = true;
    parts.title = UnixLineBreaks(utf8.substr(nameStart, close - nameStart));
    parts.description = UnixLineBreaks(utf8.substr(descriptionStart));
    return parts;
}

EventTimes ResolveEventTimes(const EventTextParts& parts, int32_t year, int32_t month, int32_t day) {
    EventTimes times;
    if (!parts.start.valid || year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31) return times;
    const int64_t start = DaysFromCivil(year, month, day) * kSecondsPerDay + parts.start.hour * 3600 +
                          parts.start.minute * 60 + parts.start.second;
    times.start = IsoTime(start);
    if (!parts.end.valid) return times;
    const int64_t startOfDay = parts.start.hour * 3600 + parts.start.minute * 60 + parts.start.second;
    const int64_t endOfDay = parts.end.hour * 3600 + parts.end.minute * 60 + parts.end.second;
    // The window shows the end on the start's date; it lies after the start.
    times.durationSeconds = (endOfDay - startOfDay + kSecondsPerDay) % kSecondsPerDay;
    times.end = IsoTime(start + times.durationSeconds);
    return times;
}

DetailTexts ConvertDetails(const EventDetails& details, bool symbols) {
    DetailTexts out;
    const size_t headingLength = std::strlen(kGenreHeading);
    for (int32_t i = 0; i < details.genreCount && i < kMaxGenreLines; ++i) {
        std::string line = Convert(details.genres[i], kGenreLineSize, symbols);
        if (line.compare(0, headingLength, kGenreHeading) == 0) line.erase(0, headingLength);
        out.genres.push_back(line);
    }
    for (int32_t i = 0; i < details.itemCount && i < kMaxDetailItems; ++i) {
        out.items.push_back({UnixLineBreaks(Convert(details.items[i].description, kDetailDescriptionSize, symbols)),
                             UnixLineBreaks(Convert(details.items[i].text, kDetailTextSize, symbols))});
    }
    out.extendedText = UnixLineBreaks(Convert(details.extendedText, kExtendedTextSize, symbols));
    return out;
}
