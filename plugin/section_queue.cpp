#include "plugin/section_queue.h"

#include <cstring>

namespace {

const int32_t kTagSize = static_cast<int32_t>(sizeof(SectionQueueTag));

// A tag and its section, rounded up so that every tag stays aligned.
int32_t EntrySize(int32_t length) { return (kTagSize + length + 3) & ~3; }

bool ValidLength(int32_t length) { return length > 0 && length <= kMaxSectionSize; }

// Where a section of `need` bytes would go, -1 when it does not fit. Not
// wrapped, the free room is after `next` and before `first`; wrapped, it is
// between `next` and `first`.
int32_t PlaceFor(const SectionQueue& q, int32_t need) {
    if (q.count == 0) return 0;
    if (q.wrap >= 0) return q.first - q.next >= need ? q.next : -1;
    if (kSectionQueueBytes - q.next >= need) return q.next;
    return q.first >= need ? 0 : -1;
}

}  // namespace

void ResetSectionQueue(SectionQueue& q) {
    q.first = q.next = 0;
    q.wrap = -1;
    q.count = 0;
}

bool SectionQueueHasRoom(const SectionQueue& q, int32_t length) {
    return ValidLength(length) && PlaceFor(q, EntrySize(length)) >= 0;
}

bool PushSection(SectionQueue& q, const SectionQueueTag& tag, const uint8_t* section) {
    if (!ValidLength(tag.length)) return false;
    const int32_t need = EntrySize(tag.length);
    const int32_t at = PlaceFor(q, need);
    if (at < 0) return false;
    if (q.count == 0) {
        ResetSectionQueue(q);
    } else if (at == 0 && q.wrap < 0) {
        q.wrap = q.next;  // the reader goes back to the start from here
    }
    std::memcpy(q.bytes + at, &tag, sizeof tag);
    std::memcpy(q.bytes + at + kTagSize, section, static_cast<size_t>(tag.length));
    q.next = at + need;
    ++q.count;
    return true;
}

bool PeekSection(const SectionQueue& q, SectionQueueTag& tag, const uint8_t*& section) {
    if (q.count == 0) return false;
    std::memcpy(&tag, q.bytes + q.first, sizeof tag);
    section = q.bytes + q.first + kTagSize;
    return true;
}

void PopSection(SectionQueue& q) {
    if (q.count == 0) return;
    SectionQueueTag tag;
    std::memcpy(&tag, q.bytes + q.first, sizeof tag);
    q.first += EntrySize(tag.length);
    if (--q.count == 0) {
        ResetSectionQueue(q);
        return;
    }
    if (q.wrap >= 0 && q.first == q.wrap) {
        q.first = 0;
        q.wrap = -1;
    }
}
