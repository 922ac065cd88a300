// PsiReader: the one way the core reads PSI/SI bytes that came from the
// stream.
//
// A cursor over the bytes that were really collected, with an end that no
// read passes. Every read first checks that its bytes lie before the end;
// one that does not returns 0, reads nothing, moves the cursor to the end and
// sets the error flag, which stays set. A parser can therefore read a whole
// structure and test the flag once, or test CanRead before a field whose
// absence it treats specially.
//
// Loops inside a section (a descriptor loop, one descriptor, a service entry)
// are read through a sub-reader: Enter(length) returns a reader over the next
// `length` bytes, cut to what this reader still holds, and moves this reader
// past the declared length. So a walk always resumes at the declared end of
// an entry, and an inner length that overruns its loop is cut at the loop's
// end instead of leading the parse out of it.
#ifndef KESTRIN_TS_PSI_READER_H
#define KESTRIN_TS_PSI_READER_H

#include <cstdint>

class PsiReader {
public:
    // A reader over `size` bytes at `data`; a negative size reads as empty.
    PsiReader(const uint8_t* data, int32_t size)
        : data_(data), size_(size > 0 ? size : 0), position_(0), error_(false) {}

    // Bytes left before the end.
    int32_t Remaining() const { return size_ - position_; }
    // Offset of the cursor from the reader's first byte.
    int32_t Position() const { return position_; }
    int32_t Size() const { return size_; }
    bool CanRead(int32_t count) const { return count >= 0 && count <= Remaining(); }
    // True once any read or skip went past the end (or an entered length
    // was cut).
    bool Error() const { return error_; }
    bool AtEnd() const { return position_ >= size_; }
    // The next byte without reading it; 0 at the end (no error).
    uint8_t Peek(int32_t offset = 0) const {
        return offset >= 0 && offset < Remaining() ? data_[position_ + offset] : 0;
    }
    // Where the cursor stands; valid for Remaining() bytes.
    const uint8_t* Current() const { return data_ + position_; }

    uint8_t U8() { return Take(1) ? data_[position_ - 1] : 0; }
    uint16_t U16() {
        if (!Take(2)) return 0;
        const uint8_t* p = data_ + position_ - 2;
        return static_cast<uint16_t>((p[0] << 8) | p[1]);
    }
    uint32_t U24() {
        if (!Take(3)) return 0;
        const uint8_t* p = data_ + position_ - 3;
        return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
    }
    uint32_t U32() {
        if (!Take(4)) return 0;
        const uint8_t* p = data_ + position_ - 4;
        return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
               (static_cast<uint32_t>(p[2]) << 8) | p[3];
    }
    // A 13-bit PID in two bytes (three reserved bits above it).
    uint16_t Pid() { return static_cast<uint16_t>(U16() & 0x1FFF); }
    // A 12-bit length in two bytes (four flag or reserved bits above it).
    int32_t Length12() { return U16() & 0x0FFF; }

    // Moves past `count` bytes; past the end it stops there and sets the flag.
    void Skip(int32_t count) { Take(count); }

    // The next `count` bytes, or null (flag set) when they are not all there.
    const uint8_t* Bytes(int32_t count) {
        if (!Take(count)) return nullptr;
        return data_ + position_ - count;
    }

    // A sub-reader over the next `length` bytes, cut to what remains; this
    // reader moves past `length` (to its end, with the flag, when it held
    // fewer). The sub-reader carries the error flag when it was cut.
    PsiReader Enter(int32_t length) {
        const int32_t available = Remaining();
        const int32_t n = length < 0 ? 0 : (length < available ? length : available);
        PsiReader inner(data_ + position_, n);
        if (length > available || length < 0) inner.error_ = true;
        Take(length < 0 ? 0 : length);
        return inner;
    }

    // Up to `length` bytes, cut to what remains, as a pointer and a count
    // without setting the flag: for texts that are decoded as far as they
    // were received.
    int32_t TakeUpTo(int32_t length, const uint8_t** bytes) {
        const int32_t available = Remaining();
        const int32_t n = length < 0 ? 0 : (length < available ? length : available);
        *bytes = data_ + position_;
        position_ += n;
        return n;
    }

private:
    bool Take(int32_t count) {
        if (count < 0 || count > Remaining()) {
            position_ = size_;
            error_ = true;
            return false;
        }
        position_ += count;
        return true;
    }

    const uint8_t* data_;
    int32_t size_;
    int32_t position_;
    bool error_;
};

#endif
