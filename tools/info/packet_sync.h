// Finding the transport packets in a byte stream as recordings really hold
// it: 188-byte packets, or 192-byte units (a 4-byte arrival timestamp before
// each packet, as Blu-ray-style and many recorder files have), or 204-byte
// units (16 Reed-Solomon parity bytes after each packet), possibly after
// leading junk, possibly with junk or lost bytes in the middle.
//
// The packet size and the first packet are found as demultiplexers find
// them: a position is a packet start when the sync byte 0x47 stands there
// and at the same step kSyncRun - 1 times further on. Once locked, each unit
// only has its sync byte tested; where it is missing the search starts
// again, with the same packet size, and the bytes passed over are counted.
//
// PacketSync does no input and allocates nothing: it works inside a buffer
// that the caller owns, into whose free space the caller reads. It gathers
// the 188-byte packets, timestamps and parity bytes taken off, contiguously
// at the buffer's front, moving bytes only where they are not in place
// already (a plain 188-byte stream is never copied). Whatever the bytes, no
// read or write leaves the buffer and every call ends.
#ifndef KESTRIN_TOOLS_INFO_PACKET_SYNC_H
#define KESTRIN_TOOLS_INFO_PACKET_SYNC_H

#include <cstddef>
#include <cstdint>

// Sync bytes at the same step that make a packet start certain.
const size_t kSyncRun = 5;
// The largest unit (204 bytes).
const size_t kMaxUnitSize = 204;
// Bytes a search may have to see past a candidate before it can decide.
const size_t kSyncLookahead = (kSyncRun - 1) * kMaxUnitSize + 1;

class PacketSync {
public:
    // Capacity of a buffer in which Gather can always collect `packets`.
    static size_t CapacityFor(size_t packets);

    // Works in the `capacity` bytes at `buffer`. Without a lock after
    // `leadingLimit` bytes of input, the input is not a transport stream.
    PacketSync(uint8_t* buffer, size_t capacity, uint64_t leadingLimit);

    // Where the next input bytes go, and how many to put there: as many as
    // fit, or, once locked, those that complete the packets the last Gather
    // wanted. Moves the bytes still needed down first when bytes were passed
    // over or packets released.
    uint8_t* FreeSpace();
    size_t FreeSize();
    // `count` bytes were put at FreeSpace() (count <= FreeSize()).
    void Commit(size_t count);
    // No more input follows.
    void SetEnd() { atEnd_ = true; }

    // Gathers packets at Packets() until `wanted` are there (cut to what the
    // buffer can hold) or more input is needed or the input is done.
    // Returns the number of packets gathered since the last Release.
    size_t Gather(size_t wanted);
    const uint8_t* Packets() const { return buffer_; }
    // Forgets the gathered packets.
    void Release();

    // The input is done: SetEnd was called and Gather used every byte it
    // could, or no packet start was found within the leading limit.
    bool Finished() const { return finished_; }
    bool Locked() const { return unitSize_ != 0; }
    // No packet start within the leading limit, or in the whole input.
    bool NotTransportStream() const { return finished_ && unitSize_ == 0; }
    // 188, 192 or 204 once locked, 0 before.
    size_t UnitSize() const { return unitSize_; }
    // Bytes passed over before the first packet and after each lost sync.
    uint64_t SkippedBytes() const { return skipped_; }
    // Times the sync byte was missing where a unit should begin.
    uint64_t LostSyncs() const { return lostSyncs_; }
    // At the end: bytes after the last packet too few for one.
    uint64_t TrailingBytes() const { return trailing_; }
    // Input bytes committed so far.
    uint64_t BytesIn() const { return bytesIn_; }

private:
    enum class Verdict { kPacketStart, kNot, kNeedMore };
    // Looks for a packet start from searchFrom_; locks and returns true, or
    // false when more input is needed or none will come.
    bool Search();
    Verdict TryStart(size_t at, size_t unit) const;
    void Compact();

    uint8_t* buffer_;
    size_t capacity_;
    uint64_t leadingLimit_;
    size_t gathered_ = 0;    // packets at the front
    size_t wanted_ = 0;      // packets the last Gather wanted
    size_t kept_ = 0;        // first byte still needed
    size_t end_ = 0;         // end of the committed bytes
    size_t nextSync_ = 0;    // where the next sync byte should stand (locked)
    size_t searchFrom_ = 0;  // where the search resumes (searching)
    bool searching_ = true;
    bool atEnd_ = false;
    bool finished_ = false;
    size_t unitSize_ = 0;
    size_t syncOffset_ = 0;  // of the sync byte in its unit: 4 for 192, else 0
    uint64_t base_ = 0;      // input offset of buffer_[0]
    uint64_t lostAt_ = 0;    // input offset from which skipped bytes count
    uint64_t skipped_ = 0;
    uint64_t lostSyncs_ = 0;
    uint64_t trailing_ = 0;
    uint64_t bytesIn_ = 0;
};

#endif
