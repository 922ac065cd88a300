#include "tools/info/packet_sync.h"

#include <cstring>

#include "ts/packet.h"

namespace {

const uint8_t kSyncByte = 0x47;
const size_t kPacket = static_cast<size_t>(kTsPacketSize);
// The unit sizes tried for the first lock, the plain packet first.
const size_t kUnitSizes[3] = {188, 192, 204};
const size_t kTimestampedUnit = 192;
const size_t kTimestampSize = 4;

size_t SyncOffsetOf(size_t unit) { return unit == kTimestampedUnit ? kTimestampSize : 0; }

}  // namespace

size_t PacketSync::CapacityFor(size_t packets) { return packets * kMaxUnitSize + kSyncLookahead; }

PacketSync::PacketSync(uint8_t* buffer, size_t capacity, uint64_t leadingLimit)
    : buffer_(buffer), capacity_(capacity), leadingLimit_(leadingLimit) {}

void PacketSync::Compact() {
    const size_t front = gathered_ * kPacket;
    if (kept_ <= front) return;
    const size_t delta = kept_ - front;
    if (end_ > kept_) std::memmove(buffer_ + front, buffer_ + kept_, end_ - kept_);
    end_ -= delta;
    nextSync_ = nextSync_ >= delta ? nextSync_ - delta : 0;
    searchFrom_ = searchFrom_ >= delta ? searchFrom_ - delta : 0;
    kept_ = front;
    base_ += delta;
}

uint8_t* PacketSync::FreeSpace() {
    Compact();
    return buffer_ + end_;
}

size_t PacketSync::FreeSize() {
    Compact();
    size_t room = capacity_ > end_ ? capacity_ - end_ : 0;
    if (Locked() && !searching_ && !atEnd_ && gathered_ < wanted_ && nextSync_ >= syncOffset_) {
        // Just the units that complete the buffer: in a clean stream the
        // read then ends where the buffer's last packet does, and Release
        // has nothing to move.
        const size_t need = nextSync_ - syncOffset_ + (wanted_ - gathered_) * unitSize_;
        if (need > end_ && need - end_ < room) room = need - end_;
    }
    return room;
}

void PacketSync::Commit(size_t count) {
    const size_t room = capacity_ > end_ ? capacity_ - end_ : 0;
    if (count > room) count = room;
    end_ += count;
    bytesIn_ += count;
}

void PacketSync::Release() {
    gathered_ = 0;
    Compact();
}

PacketSync::Verdict PacketSync::TryStart(size_t at, size_t unit) const {
    const size_t offset = SyncOffsetOf(unit);
    for (size_t k = 0; k < kSyncRun; ++k) {
        const size_t i = at + k * unit;
        if (i + kPacket > end_) {
            if (!atEnd_) return Verdict::kNeedMore;
            // The input ends within the run: a shorter run counts when every
            // whole packet up to the end carries the sync byte, after a lost
            // sync, or when the first lock starts at the input's first byte
            // (a file of a few packets).
            const bool startOfInput = at + base_ == offset;
            return k >= 1 && (Locked() || startOfInput) ? Verdict::kPacketStart : Verdict::kNot;
        }
        if (buffer_[i] != kSyncByte) return Verdict::kNot;
    }
    return Verdict::kPacketStart;
}

bool PacketSync::Search() {
    for (;;) {
        if (!Locked() && searchFrom_ + base_ > leadingLimit_) {
            finished_ = true;
            return false;
        }
        const void* found =
            searchFrom_ < end_ ? std::memchr(buffer_ + searchFrom_, kSyncByte, end_ - searchFrom_) : nullptr;
        if (found == nullptr) {
            searchFrom_ = end_;
            kept_ = end_;
            if (atEnd_) {
                // Junk to the end after a lost sync is passed over too.
                if (Locked() && end_ + base_ > lostAt_) skipped_ += end_ + base_ - lostAt_;
                finished_ = true;
            }
            return false;
        }
        const size_t at = static_cast<size_t>(static_cast<const uint8_t*>(found) - buffer_);
        if (!Locked() && at + base_ > leadingLimit_) {
            finished_ = true;
            return false;
        }
        const size_t one[1] = {unitSize_};
        const size_t* units = Locked() ? one : kUnitSizes;
        const size_t count = Locked() ? 1 : 3;
        for (size_t u = 0; u < count; ++u) {
            const Verdict v = TryStart(at, units[u]);
            if (v == Verdict::kNeedMore) {
                searchFrom_ = at;
                // The timestamp before a 192-byte unit's sync byte is not
                // needed: only packets are gathered.
                kept_ = at;
                return false;
            }
            if (v == Verdict::kPacketStart) {
                unitSize_ = units[u];
                syncOffset_ = SyncOffsetOf(unitSize_);
                const uint64_t unitStart = at + base_ >= syncOffset_ ? at + base_ - syncOffset_ : 0;
                if (unitStart > lostAt_) skipped_ += unitStart - lostAt_;
                nextSync_ = at;
                kept_ = at;
                searching_ = false;
                return true;
            }
        }
        searchFrom_ = at + 1;
        kept_ = searchFrom_;
    }
}

size_t PacketSync::Gather(size_t wanted) {
    const size_t most = capacity_ > kSyncLookahead ? (capacity_ - kSyncLookahead) / kPacket : 0;
    if (wanted > most) wanted = most;
    wanted_ = wanted;
    while (gathered_ < wanted && !finished_) {
        if (searching_ && !Search()) break;
        // The common case first: 188-byte packets already in place, where
        // only the sync bytes are tested.
        if (unitSize_ == kPacket && nextSync_ == gathered_ * kPacket) {
            size_t whole = end_ > nextSync_ ? (end_ - nextSync_) / kPacket : 0;
            if (whole > wanted - gathered_) whole = wanted - gathered_;
            const uint8_t* p = buffer_ + nextSync_;
            size_t k = 0;
            while (k < whole && p[k * kPacket] == kSyncByte) ++k;
            gathered_ += k;
            nextSync_ += k * kPacket;
            if (k > 0) kept_ = nextSync_;
            if (gathered_ == wanted) break;
        }
        const size_t at = nextSync_;
        if (at + kPacket > end_) {
            if (!atEnd_) break;
            // What follows the last whole unit is too short for a packet.
            const size_t unitStart = at >= syncOffset_ ? at - syncOffset_ : 0;
            if (end_ > unitStart) trailing_ = end_ - unitStart;
            kept_ = end_;
            finished_ = true;
            break;
        }
        if (buffer_[at] != kSyncByte) {
            ++lostSyncs_;
            searching_ = true;
            searchFrom_ = kept_;
            // Bytes count as passed over from where this unit should begin.
            const uint64_t unitStart = at + base_ >= syncOffset_ ? at + base_ - syncOffset_ : 0;
            lostAt_ = unitStart > kept_ + base_ ? unitStart : kept_ + base_;
            continue;
        }
        uint8_t* to = buffer_ + gathered_ * kPacket;
        if (to != buffer_ + at) std::memmove(to, buffer_ + at, kPacket);
        ++gathered_;
        kept_ = at + kPacket;
        nextSync_ = at + unitSize_;
    }
    return gathered_;
}
