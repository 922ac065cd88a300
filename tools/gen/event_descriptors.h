// The programme details of a scenario event as EIT descriptors: its items
// as extended event descriptors (tag 0x4E) and its genres as one content
// descriptor (tag 0x54), in ARIB STD-B10 layout.
#ifndef KESTRIN_TOOLS_GEN_EVENT_DESCRIPTORS_H
#define KESTRIN_TOOLS_GEN_EVENT_DESCRIPTORS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace gen {

typedef std::vector<uint8_t> Bytes;

// length_of_items of one extended event descriptor at most: descriptor_length
// 255 less descriptor_number, the language code, length_of_items and an
// empty text_length.
const size_t kMaxItemBytesPerDescriptor = 249;
// descriptor_number has four bits.
const size_t kMaxExtendedDescriptors = 16;
// Content entries of one content descriptor (two bytes each, within 255).
const size_t kMaxContentEntries = 127;

// One item as ARIB-coded bytes.
struct AribItem {
    Bytes description;
    Bytes text;
};

// Packs the items into extended event descriptors whose item loops hold at
// most `itemBytes` bytes each, as a broadcaster fills them: an item whose
// text does not fit goes on in the next descriptor as an item with an empty
// item_description, cut at the byte where the descriptor is full whether
// or not a character ends there. descriptor_number counts from 0,
// last_descriptor_number is the last one; text_char is empty. Returns no
// descriptor for no items, and false (with `error`) when a description does
// not fit a descriptor or more than kMaxExtendedDescriptors are needed.
bool ExtendedEventDescriptors(const std::vector<AribItem>& items, size_t itemBytes, std::vector<Bytes>& out,
                              std::string& error);

// The content descriptor of the entries (content_nibble_level_1 << 4 |
// content_nibble_level_2), user nibbles 0xFF; empty for no entries.
Bytes ContentDescriptor(const std::vector<uint8_t>& genres);

}  // namespace gen

#endif
