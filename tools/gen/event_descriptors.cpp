#include "tools/gen/event_descriptors.h"

namespace gen {

namespace {

const uint8_t kExtendedEventTag = 0x4E;
const uint8_t kContentTag = 0x54;
const uint8_t kUserNibbles = 0xFF;
const char kLanguage[] = "jpn";

Bytes ExtendedBody(const Bytes& items) {
    Bytes body;
    body.push_back(0x00);  // descriptor_number, last_descriptor_number: set once all are known
    body.insert(body.end(), kLanguage, kLanguage + 3);
    body.push_back(static_cast<uint8_t>(items.size()));
    body.insert(body.end(), items.begin(), items.end());
    body.push_back(0x00);  // text_length
    return body;
}

}  // namespace

bool ExtendedEventDescriptors(const std::vector<AribItem>& items, size_t itemBytes, std::vector<Bytes>& out,
                              std::string& error) {
    out.clear();
    if (itemBytes > kMaxItemBytesPerDescriptor) itemBytes = kMaxItemBytesPerDescriptor;
    std::vector<Bytes> loops;
    Bytes loop;
    auto close = [&]() {
        loops.push_back(loop);
        loop.clear();
    };
    for (const AribItem& item : items) {
        // item_description_length, the description, item_length and at
        // least one byte of text must fit in one descriptor.
        if (item.description.size() + 3 > itemBytes) {
            error = "an item description of " + std::to_string(item.description.size()) +
                    " bytes does not fit an extended event descriptor of " + std::to_string(itemBytes) + " bytes";
            return false;
        }
        size_t taken = 0;
        bool first = true;
        while (first || taken < item.text.size()) {
            const size_t head = first ? item.description.size() : 0;
            const size_t left = item.text.size() - taken;
            // A new descriptor when not even the heading and one byte fit.
            if (loop.size() + 2 + head + (left > 0 ? 1 : 0) > itemBytes) close();
            const size_t room = itemBytes - loop.size() - 2 - head;
            const size_t n = left < room ? left : room;
            loop.push_back(static_cast<uint8_t>(head));
            if (first) loop.insert(loop.end(), item.description.begin(), item.description.end());
            loop.push_back(static_cast<uint8_t>(n));
            loop.insert(loop.end(), item.text.begin() + static_cast<std::ptrdiff_t>(taken),
                        item.text.begin() + static_cast<std::ptrdiff_t>(taken + n));
            taken += n;
            first = false;
            if (taken < item.text.size()) close();
        }
    }
    if (!loop.empty()) close();
    if (loops.size() > kMaxExtendedDescriptors) {
        error = "the items need " + std::to_string(loops.size()) + " extended event descriptors, more than " +
                std::to_string(kMaxExtendedDescriptors);
        return false;
    }
    const uint8_t last = static_cast<uint8_t>(loops.empty() ? 0 : loops.size() - 1);
    for (size_t i = 0; i < loops.size(); ++i) {
        Bytes body = ExtendedBody(loops[i]);
        body[0] = static_cast<uint8_t>((i << 4) | last);
        Bytes d;
        d.push_back(kExtendedEventTag);
        d.push_back(static_cast<uint8_t>(body.size()));
        d.insert(d.end(), body.begin(), body.end());
        out.push_back(d);
    }
    return true;
}

Bytes ContentDescriptor(const std::vector<uint8_t>& genres) {
    if (genres.empty()) return Bytes();
    Bytes d;
    d.push_back(kContentTag);
    const size_t n = genres.size() < kMaxContentEntries ? genres.size() : kMaxContentEntries;
    d.push_back(static_cast<uint8_t>(2 * n));
    for (size_t i = 0; i < n; ++i) {
        d.push_back(genres[i]);
        d.push_back(kUserNibbles);
    }
    return d;
}

}  // namespace gen
