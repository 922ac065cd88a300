#include "text/event_details.h"

#include <cstdio>
#include <cstring>

#include "text/shift_jis_text.h"
#include "ts/psi_reader.h"

namespace {

const uint8_t kExtendedEventTag = 0x4E;
const uint8_t kContentTag = 0x54;
const uint8_t kSeriesTag = 0xD5;
const uint8_t kEventGroupTag = 0xD6;
// series_id, the flags byte, expire_date and the two episode numbers.
const int32_t kSeriesFixedSize = 8;
const int32_t kGroupEventSize = 4;        // service_id, event_id
const int32_t kOtherNetworkEventSize = 8;  // original_network_id, transport_stream_id, service_id, event_id
const uint8_t kGroupRelay = 2;
const uint8_t kGroupRelayOtherNetwork = 4;

// The words of the series and relay lines, Shift_JIS.
const char kSeriesPrefix[] = "\x83\x56\x83\x8A\x81\x5B\x83\x59: ";            // シリーズ:
const char kEpisodeBefore[] = "\x91\xE6";                                          // 第
const char kEpisodeAfter[] = "\x89\xF1";                                           // 回
const char kEpisodesOf[] = "\x81\x5E\x91\x53";                                   // ／全
const char kNameOpen[] = "\x81\x75";                                              // 「
const char kNameClose[] = "\x81\x76";                                             // 」
const char kRelayPrefix[] = "\x83\x8A\x83\x8C\x81\x5B: ";                      // リレー:
const char kNetworkWord[] = "\x83\x6C\x83\x62\x83\x67\x83\x8F\x81\x5B\x83\x4E";  // ネットワーク
const char kServiceWord[] = "\x83\x54\x81\x5B\x83\x72\x83\x58";              // サービス
const char kEventWord[] = "\x83\x43\x83\x78\x83\x93\x83\x67";                // イベント
// descriptor_number is four bits.
const int32_t kDescriptorNumbers = 16;
const int32_t kLanguageCodeSize = 3;
const int32_t kContentEntrySize = 2;

// --- Reading ---------------------------------------------------------------

// Calls visit(tag, body) for each descriptor of the loop, its body cut to
// the loop; the walk ends at the loop's end or at a header cut by it.
template <typename Visit>
void WalkDescriptors(const uint8_t* loop, int32_t length, Visit visit) {
    PsiReader descriptors(loop, length);
    while (!descriptors.AtEnd()) {
        const uint8_t tag = descriptors.U8();
        const int32_t descriptorLength = descriptors.U8();
        if (descriptors.Error()) break;
        visit(tag, descriptors.Enter(descriptorLength));
    }
}

// The body of one extended event descriptor (after descriptor_length), as
// far as it lies inside the loop.
struct DescriptorBody {
    const uint8_t* data;
    int32_t size;
    bool present;
};

// Raw ARIB bytes joined across descriptors; what does not fit is left out.
void AppendRaw(uint8_t* raw, int32_t& count, int32_t capacity, const uint8_t* bytes, int32_t n) {
    const int32_t room = capacity - count;
    const int32_t take = n < room ? n : room;
    if (take <= 0) return;
    std::memcpy(raw + count, bytes, static_cast<size_t>(take));
    count += take;
}

// The item sequence over all descriptors.
enum class ItemState {
    kNone,     // no item yet
    kOpen,     // raw.items[itemCount - 1] collects continuations
    kDropped,  // the item did not fit kMaxDetailItems: its continuations go too
};

void AddItem(ExtendedEventRaw& raw, ItemState& state, const uint8_t* description, int32_t descriptionLength,
             const uint8_t* text, int32_t textLength) {
    if (descriptionLength == 0 && textLength == 0) return;
    // An empty description continues the item before it; with none before,
    // the text stands as an item of its own.
    if (descriptionLength > 0 || state == ItemState::kNone) {
        if (raw.itemCount >= kMaxDetailItems) {
            state = ItemState::kDropped;
            return;
        }
        ExtendedItemRaw& item = raw.items[raw.itemCount++];
        item.descriptionSize = 0;
        item.textSize = 0;
        AppendRaw(item.description, item.descriptionSize, kItemDescriptionRawSize, description, descriptionLength);
        state = ItemState::kOpen;
    }
    if (state == ItemState::kOpen) {
        ExtendedItemRaw& item = raw.items[raw.itemCount - 1];
        AppendRaw(item.text, item.textSize, kDetailRawCapacity, text, textLength);
    }
}

// descriptor_number and last_descriptor_number, ISO_639_language_code,
// length_of_items, the items, text_length, text_char.
void ReadExtendedEvent(const DescriptorBody& body, ExtendedEventRaw& raw, ItemState& state) {
    PsiReader d(body.data, body.size);
    d.U8();
    d.Skip(kLanguageCodeSize);
    const int32_t itemsLength = d.U8();
    PsiReader loop = d.Enter(itemsLength);
    while (!loop.AtEnd()) {
        const uint8_t* description = nullptr;
        const int32_t descriptionLength = loop.TakeUpTo(loop.U8(), &description);
        const uint8_t* itemText = nullptr;
        const int32_t itemTextLength = loop.TakeUpTo(loop.U8(), &itemText);
        AddItem(raw, state, description, descriptionLength, itemText, itemTextLength);
    }
    const uint8_t* textChar = nullptr;
    const int32_t textLength = d.TakeUpTo(d.U8(), &textChar);
    AppendRaw(raw.text, raw.textSize, kDetailRawCapacity, textChar, textLength);
}

// content_nibble_level_1/2 and two user nibbles per entry.
void ReadContent(PsiReader body, EventDetails& details) {
    while (body.CanRead(kContentEntrySize)) {
        const uint8_t nibbles = body.U8();
        body.U8();
        AddGenreLine(details, nibbles);
    }
}

// A series descriptor: its episode numbers and name. Only the first one
// whole in its fixed fields counts (`seen`), as for the guide's records.
void ReadSeries(PsiReader body, SymbolStyle style, bool& seen, EventDetails& details) {
    if (seen || !body.CanRead(kSeriesFixedSize)) return;
    seen = true;
    body.Skip(5);  // series_id, repeat_label, program_pattern, expire_date
    const uint32_t episodes = body.U24();
    const uint8_t* name = nullptr;
    const int32_t nameSize = body.TakeUpTo(body.Remaining(), &name);
    SetSeriesLine(details, static_cast<uint16_t>(episodes >> 12), static_cast<uint16_t>(episodes & 0x0FFF), name,
                  nameSize, style);
}

// The first event a relay group (group_type 2, or 4 for another network's
// event) names.
void ReadEventGroup(PsiReader body, EventDetails& details) {
    if (!body.CanRead(1)) return;
    const uint8_t head = body.U8();
    const uint8_t groupType = head >> 4;
    const int32_t count = head & 0x0F;
    if (groupType == kGroupRelay && body.CanRead(kGroupEventSize) && count > 0) {
        const uint16_t serviceId = body.U16();
        SetRelayLine(details, false, 0, serviceId, body.U16());
        return;
    }
    if (groupType != kGroupRelayOtherNetwork) return;
    body.Skip(count * kGroupEventSize);
    if (body.Error() || !body.CanRead(kOtherNetworkEventSize)) return;
    const uint16_t networkId = body.U16();
    body.U16();  // transport_stream_id
    const uint16_t serviceId = body.U16();
    SetRelayLine(details, true, networkId, serviceId, body.U16());
}

// --- Tooltip ---------------------------------------------------------------

bool IsShiftJisTrailByte(uint8_t b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }

// Line breaks are held back until the next character, so the text never
// ends in one, and are written together with that character or not at all.
struct TooltipWriter {
    char* destination;
    int32_t capacity;
    int32_t count;
    bool full;
    int32_t pendingBreaks;
    int32_t column;  // bytes on the current line
};

void BreakLine(TooltipWriter& w) {
    if (w.count > 0) ++w.pendingBreaks;
    w.column = 0;
}

void PutCharacter(TooltipWriter& w, const char* bytes, int32_t n) {
    if (w.full) return;
    if (w.column + n > kTooltipLineWidth) BreakLine(w);
    const int32_t needed = 2 * w.pendingBreaks + n;
    if (needed > w.capacity - 1 - w.count) {
        w.full = true;
        return;
    }
    for (; w.pendingBreaks > 0; --w.pendingBreaks) {
        w.destination[w.count++] = '\r';
        w.destination[w.count++] = '\n';
    }
    for (int32_t i = 0; i < n; ++i) w.destination[w.count++] = bytes[i];
    w.column += n;
}

// The length of `text` up to its terminator, not looking past `size` bytes:
// the details' buffers are read only as far as they reach.
int32_t BoundedLength(const char* text, int32_t size) {
    int32_t n = 0;
    while (n < size && text[n] != '\0') ++n;
    return n;
}

// One block of `size` bytes at most on lines of its own. Breaks at its end
// add nothing; a lead byte without a valid trail byte is dropped.
void PutBlock(TooltipWriter& w, const char* text, int32_t size) {
    if (text == nullptr) return;
    int32_t end = BoundedLength(text, size);
    // 0x0D and 0x0A are never trail bytes, so these are breaks of their own.
    while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n')) --end;
    if (end == 0) return;
    if (w.count > 0) w.pendingBreaks = 1;
    w.column = 0;
    int32_t i = 0;
    while (i < end && !w.full) {
        const uint8_t b = static_cast<uint8_t>(text[i]);
        if (b == '\r' || b == '\n') {
            i += (b == '\r' && i + 1 < end && text[i + 1] == '\n') ? 2 : 1;
            BreakLine(w);
            continue;
        }
        if (IsShiftJisLeadByte(b)) {
            if (i + 1 >= end || !IsShiftJisTrailByte(static_cast<uint8_t>(text[i + 1]))) {
                ++i;
                continue;
            }
            PutCharacter(w, text + i, 2);
            i += 2;
            continue;
        }
        PutCharacter(w, text + i, 1);
        ++i;
    }
}

}  // namespace

void AddGenreLine(EventDetails& details, uint8_t nibbles) {
    if (details.genreCount >= kMaxGenreLines) return;
    char* line = details.genres[details.genreCount];
    if (FormatGenreLine(line, kGenreLineSize, nibbles) == 0) return;
    for (int32_t i = 0; i < details.genreCount; ++i) {
        if (std::strcmp(details.genres[i], line) == 0) {
            line[0] = '\0';
            return;
        }
    }
    ++details.genreCount;
}

void JoinExtendedEvent(const uint8_t* loop, int32_t length, ExtendedEventRaw& raw) {
    raw.itemCount = 0;
    raw.textSize = 0;
    raw.present = false;
    if (loop == nullptr) return;

    // Where each extended event descriptor number first appears.
    DescriptorBody extended[kDescriptorNumbers] = {};
    WalkDescriptors(loop, length, [&](uint8_t tag, const PsiReader& body) {
        if (tag != kExtendedEventTag || body.AtEnd()) return;
        const int32_t number = body.Peek() >> 4;
        if (!extended[number].present) extended[number] = {body.Current(), body.Remaining(), true};
        raw.present = true;
    });
    // The descriptors by number, joining the raw item texts and text_char.
    ItemState state = ItemState::kNone;
    for (const DescriptorBody& body : extended) {
        if (body.present) ReadExtendedEvent(body, raw, state);
    }
}

void DecodeExtendedEvent(const ExtendedEventRaw& raw, SymbolStyle style, EventDetails& details) {
    details.itemCount = 0;
    for (int32_t i = 0; i < raw.itemCount && i < kMaxDetailItems; ++i) {
        const ExtendedItemRaw& from = raw.items[i];
        DetailItem& item = details.items[details.itemCount++];
        DecodeAribText(item.description, from.description, from.descriptionSize, kDetailDescriptionSize, style);
        DecodeAribText(item.text, from.text, from.textSize, kDetailTextSize, style);
    }
    DecodeAribText(details.extendedText, raw.text, raw.textSize, kExtendedTextSize, style);
}

void ReadEventDetails(const uint8_t* loop, int32_t length, SymbolStyle style, EventDetails& details) {
    std::memset(&details, 0, sizeof details);
    if (loop == nullptr) return;

    // The genres in loop order over all content descriptors; the first
    // series and the first relay.
    bool seriesSeen = false;
    WalkDescriptors(loop, length, [&](uint8_t tag, const PsiReader& body) {
        if (tag == kContentTag) ReadContent(body, details);
        if (tag == kSeriesTag) ReadSeries(body, style, seriesSeen, details);
        if (tag == kEventGroupTag) ReadEventGroup(body, details);
    });
    // The joined items (20 KiB: kept static would not be thread-safe, so the
    // raw join lives on the stack only as long as this call).
    ExtendedEventRaw raw;
    JoinExtendedEvent(loop, length, raw);
    DecodeExtendedEvent(raw, style, details);
}

void SetSeriesLine(EventDetails& details, uint16_t episode, uint16_t lastEpisode, const uint8_t* name,
                   int32_t nameSize, SymbolStyle style) {
    if (details.series[0] != '\0') return;
    char decoded[kSeriesNameSize];
    DecodeAribText(decoded, name, name != nullptr ? nameSize : 0, kSeriesNameSize, style);
    char number[24] = "";  // 第4095回／全4095回 and the terminator fit
    if (episode > 0 && lastEpisode >= episode) {
        std::snprintf(number, sizeof number, "%s%u%s%s%u%s", kEpisodeBefore, static_cast<unsigned>(episode),
                      kEpisodeAfter, kEpisodesOf, static_cast<unsigned>(lastEpisode), kEpisodeAfter);
    } else if (episode > 0) {
        std::snprintf(number, sizeof number, "%s%u%s", kEpisodeBefore, static_cast<unsigned>(episode), kEpisodeAfter);
    }
    if (number[0] == '\0' && decoded[0] == '\0') return;
    std::snprintf(details.series, kEventLinkLineSize, "%s%s%s%s%s", kSeriesPrefix, number,
                  decoded[0] != '\0' ? kNameOpen : "", decoded, decoded[0] != '\0' ? kNameClose : "");
}

void SetRelayLine(EventDetails& details, bool otherNetwork, uint16_t networkId, uint16_t serviceId,
                  uint16_t eventId) {
    if (details.relay[0] != '\0') return;
    char network[24] = "";  // ネットワーク 65535 and the terminator fit
    if (otherNetwork) std::snprintf(network, sizeof network, "%s %u ", kNetworkWord, static_cast<unsigned>(networkId));
    std::snprintf(details.relay, kEventLinkLineSize, "%s%s%s %u %s %u", kRelayPrefix, network, kServiceWord,
                  static_cast<unsigned>(serviceId), kEventWord, static_cast<unsigned>(eventId));
}

bool HasEventDetails(const EventDetails& details) {
    // Room for the first character of the tooltip, whatever its width.
    char probe[4];
    return FormatEventDetailsTooltip(probe, sizeof probe, details, nullptr, false) > 0;
}

int32_t FormatEventDetailsTooltip(char* destination, int32_t capacity, const EventDetails& details,
                                  const char* shortDescription, bool eventTextCut) {
    if (destination == nullptr || capacity < 1) return 0;
    TooltipWriter w = {destination, capacity, 0, false, 0, 0};
    for (int32_t i = 0; i < details.genreCount && i < kMaxGenreLines; ++i) {
        PutBlock(w, details.genres[i], kGenreLineSize);
    }
    PutBlock(w, details.series, kEventLinkLineSize);
    PutBlock(w, details.relay, kEventLinkLineSize);
    for (int32_t i = 0; i < details.itemCount && i < kMaxDetailItems; ++i) {
        PutBlock(w, details.items[i].description, kDetailDescriptionSize);
        PutBlock(w, details.items[i].text, kDetailTextSize);
    }
    PutBlock(w, details.extendedText, kExtendedTextSize);
    if (eventTextCut && shortDescription != nullptr) {
        PutBlock(w, shortDescription, static_cast<int32_t>(std::strlen(shortDescription)));
    }
    destination[w.count] = '\0';
    return w.count;
}
