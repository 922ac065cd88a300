// kestrin-info's printer of the window's changes: what the core set into
// each control, as blocks of text or JSON lines, with the details of the
// event on screen read from the state right after the message that set
// its text. Used by kestrin-info's main program only.
#ifndef KESTRIN_TOOLS_INFO_WINDOW_PRINTER_H
#define KESTRIN_TOOLS_INFO_WINDOW_PRINTER_H

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "plugin/plugin_state.h"
#include "tools/info/console_platform.h"
#include "tools/info/cp932_utf8.h"
#include "tools/info/event_report.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"

inline const char* ControlName(int32_t id) {
    switch (id) {
        case kCaptionControl: return "caption";
        case IDC_INFO_TEXT: return "text";
        case IDC_CLOCK: return "clock";
        case IDC_PRESENT_FOLLOWING: return "view";
        case IDC_RECORD_REQUEST: return "request";
        case IDC_ONESEG_RECORD: return "record";
        default: break;
    }
    static const char* const kChannelNames[12] = {"ch1", "ch2", "ch3", "ch4",  "ch5",  "ch6",
                                                  "ch7", "ch8", "ch9", "ch10", "ch11", "ch12"};
    for (int i = 0; i < 12; ++i) {
        if (kChannelButtonIds[i] == id) return kChannelNames[i];
    }
    return "control";
}

// How the changes are printed.
struct OutputStyle {
    bool quiet;
    bool symbols;  // ARIB additional symbols as Unicode enclosed forms
    bool details;  // genres and items under each event text
    bool json;     // one JSON object per change
};

const size_t kColumn = 9;  // where the texts of a block start

// Collects the window's changes for printing. A text set again unchanged is
// not a change; with --details or --json an event text counts as changed
// when its details changed.
class WindowPrinter {
public:
    explicit WindowPrinter(const OutputStyle& style) : style_(style) {}

    // Reads the state for the changes made since the last call: the details
    // of the event on screen for each new event text, the service for each
    // new caption. Called right after each message or command is handled,
    // while the state is still what set the text.
    void Observe(const ConsolePlatform& platform, PluginState& state) {
        for (; observed_ < platform.changes.size(); ++observed_) {
            const int32_t control = platform.changes[observed_].control;
            if (control == IDC_INFO_TEXT) {
                std::shared_ptr<EventSnapshot> snapshot(new EventSnapshot);
                TakeEventSnapshot(state, *snapshot);
                snapshot->shownSjis = platform.changes[observed_].text;
                events_[observed_] = snapshot;
            } else if (control == kCaptionControl) {
                ServiceSnapshot service;
                {
                    std::lock_guard<std::mutex> guard(state.lock);
                    service.id = state.currentService;
                    service.name.assign(state.serviceName, strnlen(state.serviceName, sizeof state.serviceName));
                }
                services_[observed_] = service;
            }
        }
    }

    // The text to print for the changes since the last call: a block under
    // one "@ packet N" header, or one JSON line per change; empty when
    // nothing changed (or --quiet).
    std::string Take(ConsolePlatform& platform, PluginState& state, uint64_t packets) {
        Observe(platform, state);
        std::string out;
        for (size_t i = 0; i < platform.changes.size(); ++i) {
            const ConsolePlatform::Change& c = platform.changes[i];
            const EventSnapshot* event = nullptr;
            auto found = events_.find(i);
            if (found != events_.end()) event = found->second.get();
            std::string key = c.text;
            if (event != nullptr && (style_.details || style_.json)) key += DetailsKey(event->details);
            auto it = shown_.find(c.control);
            if (it != shown_.end() && it->second == key) continue;
            shown_[c.control] = key;
            if (style_.json) {
                auto service = services_.find(i);
                out += JsonLine(c, packets, event, service == services_.end() ? nullptr : &service->second);
            } else {
                AppendChange(out, c);
                if (style_.details && event != nullptr) AppendDetails(out, *event);
            }
        }
        platform.changes.clear();
        events_.clear();
        services_.clear();
        observed_ = 0;
        if (out.empty() || style_.quiet) return std::string();
        return style_.json ? out : "@ packet " + std::to_string(packets) + "\n" + out;
    }

private:
    struct ServiceSnapshot {
        int32_t id = -1;
        std::string name;  // Shift_JIS
    };

    std::string Utf8(const std::string& sjis) const {
        return style_.symbols ? Cp932ToUtf8WithSymbols(sjis) : Cp932ToUtf8(sjis);
    }

    // The raw details, to tell a change of them from a repeat.
    static std::string DetailsKey(const EventDetails& d) {
        std::string key(1, '\0');
        for (int32_t i = 0; i < d.genreCount && i < kMaxGenreLines; ++i) key += std::string(d.genres[i]) + '\0';
        for (int32_t i = 0; i < d.itemCount && i < kMaxDetailItems; ++i) {
            key += std::string(d.items[i].description) + '\0' + d.items[i].text + '\0';
        }
        return key + d.extendedText;
    }

    static std::string Label(const std::string& name) {
        return name + std::string(name.size() < kColumn ? kColumn - name.size() : 1, ' ');
    }

    // `text` under `label`, its further lines indented to `indent` columns.
    static void AppendLines(std::string& block, const std::string& label, const std::string& text, size_t indent) {
        const std::string pad(indent, ' ');
        std::string line;
        bool first = true;
        auto flush = [&]() {
            if (first) {
                block += label + line;
            } else if (!line.empty()) {
                block += pad + line;
            }
            block += '\n';
            line.clear();
            first = false;
        };
        for (size_t i = 0; i < text.size(); ++i) {
            const char ch = text[i];
            if (ch == '\r' || ch == '\n') {
                flush();
                if (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            } else {
                line += ch;
            }
        }
        flush();
    }

    void AppendChange(std::string& block, const ConsolePlatform::Change& c) const {
        std::string name = ControlName(c.control);
        if (name == "control") name += " " + std::to_string(c.control);
        const std::string text = Utf8(c.text);
        if (text.empty()) {
            block += Label(name) + "(empty)\n";
            return;
        }
        // The edit control breaks lines at CR LF; continuation lines are
        // indented under the first.
        AppendLines(block, Label(name), text, kColumn);
    }

    // genre    <line>           one per genre
    // item     <description>    one per item, its text two columns further in
    //            <text>
    // extended <text_char>
    void AppendDetails(std::string& block, const EventSnapshot& event) const {
        const DetailTexts d = ConvertDetails(event.details, style_.symbols);
        for (const std::string& genre : d.genres) AppendLines(block, Label("genre"), genre, kColumn);
        for (const DetailItemText& item : d.items) {
            const std::string indent(kColumn + 2, ' ');
            if (item.description.empty()) {
                AppendLines(block, Label("item") + "  ", item.text, kColumn + 2);
                continue;
            }
            AppendLines(block, Label("item"), item.description, kColumn);
            if (!item.text.empty()) AppendLines(block, indent, item.text, kColumn + 2);
        }
        if (!d.extendedText.empty()) AppendLines(block, Label("extended"), d.extendedText, kColumn);
    }

    std::string JsonLine(const ConsolePlatform::Change& c, uint64_t packets, const EventSnapshot* event,
                         const ServiceSnapshot* service) const {
        nlohmann::ordered_json line;
        line["packet"] = packets;
        const std::string shown = Utf8(c.text);
        switch (c.control) {
            case kCaptionControl:
                line["type"] = "caption";
                line["shown"] = shown;
                if (service != nullptr) {
                    line["service_id"] = service->id;
                    line["service_name"] = Utf8(service->name);
                }
                break;
            case IDC_PRESENT_FOLLOWING:
                line["type"] = "view";
                line["shown"] = shown;
                break;
            case IDC_CLOCK:
                line["type"] = "clock";
                line["shown"] = shown;
                break;
            case IDC_INFO_TEXT:
                line["type"] = "event";
                line["shown"] = UnixLineBreaks(shown);
                if (event != nullptr) AddEvent(line, shown, *event);
                break;
            default: {
                std::string name = ControlName(c.control);
                line["type"] = "button";
                line["control"] = name == "control" ? name + " " + std::to_string(c.control) : name;
                line["shown"] = shown;
                break;
            }
        }
        // Replace, not throw, should a text ever not be UTF-8.
        return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    }

    void AddEvent(nlohmann::ordered_json& line, const std::string& shown, const EventSnapshot& event) const {
        const EventTextParts parts = SplitEventText(shown);
        const EventTimes times = ResolveEventTimes(parts, event.year, event.month, event.day);
        auto orNull = [](const std::string& s) { return s.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(s); };
        line["view"] = event.view == View::kFollowing ? "following" : "present";
        line["start"] = orNull(times.start);
        line["end"] = orNull(times.end);
        if (times.durationSeconds >= 0) {
            line["duration_minutes"] = times.durationSeconds / 60;
            line["duration_seconds"] = times.durationSeconds;
        } else {
            line["duration_minutes"] = nullptr;
            line["duration_seconds"] = nullptr;
        }
        line["title"] = parts.hasTitle ? nlohmann::ordered_json(parts.title) : nlohmann::ordered_json();
        line["text"] = parts.description;
        const DetailTexts d = ConvertDetails(event.details, style_.symbols);
        line["genres"] = d.genres;
        nlohmann::ordered_json items = nlohmann::ordered_json::array();
        for (const DetailItemText& item : d.items) {
            nlohmann::ordered_json entry;
            entry["description"] = item.description;
            entry["text"] = item.text;
            items.push_back(entry);
        }
        line["items"] = items;
        line["extended_text"] = d.extendedText;
        AddEitFields(line, event);
    }

    // Read from the EIT section itself (tools/info/event_report.h); null
    // when the section on screen could not be matched.
    void AddEitFields(nlohmann::ordered_json& line, const EventSnapshot& event) const {
        const EitEventFields f = ReadEitEventFields(event, event.shownSjis);
        const nlohmann::ordered_json none;
        auto orNull = [&](const std::string& s) { return s.empty() ? none : nlohmann::ordered_json(s); };
        line["event_id"] = f.present ? nlohmann::ordered_json(f.eventId) : none;
        line["service_id"] = f.present ? nlohmann::ordered_json(f.serviceId) : none;
        line["transport_stream_id"] = f.present ? nlohmann::ordered_json(f.transportStreamId) : none;
        line["network_id"] = f.present ? nlohmann::ordered_json(f.networkId) : none;
        line["start_at"] = orNull(f.startAt);
        line["end_at"] = orNull(f.endAt);
        nlohmann::ordered_json codes = nlohmann::ordered_json::array();
        for (const GenreCode& g : f.genres) {
            codes.push_back({{"lv1", g.level1}, {"lv2", g.level2}, {"un1", g.user1}, {"un2", g.user2}});
        }
        line["genre_codes"] = codes;
        line["short_text"] = f.present ? nlohmann::ordered_json(f.shortText) : none;
        line["text_cut"] = f.present ? nlohmann::ordered_json(f.textCut) : none;
    }

    OutputStyle style_;
    std::map<int32_t, std::string> shown_;
    size_t observed_ = 0;
    std::map<size_t, std::shared_ptr<EventSnapshot>> events_;
    std::map<size_t, ServiceSnapshot> services_;
};

#endif
