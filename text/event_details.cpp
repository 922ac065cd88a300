#include "text/event_details.h"

#include <cstring>

#include "text/shift_jis_text.h"
#include "ts/psi_reader.h"

namespace {

const uint8_t kExtendedEventTag = 0x4E;
const uint8_t kContentTag = 0x54;
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

    // The genres in loop order over all content descriptors.
    WalkDescriptors(loop, length, [&](uint8_t tag, const PsiReader& body) {
        if (tag == kContentTag) ReadContent(body, details);
    });
    // The joined items (20 KiB: kept static would not be thread-safe, so the
    // raw join lives on the stack only as long as this call).
    ExtendedEventRaw raw;
    JoinExtendedEvent(loop, length, raw);
    DecodeExtendedEvent(raw, style, details);
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
