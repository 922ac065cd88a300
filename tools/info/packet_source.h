// kestrin-info's input: a file or standard input, read in large blocks and
// handed on as host buffers of 188-byte packets found by PacketSync, whatever
// the packet size and junk of the recording. Every command reads through it.
#ifndef KESTRIN_TOOLS_INFO_PACKET_SOURCE_H
#define KESTRIN_TOOLS_INFO_PACKET_SOURCE_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/info/packet_sync.h"

// Junk skipped before the first packet at most; without a packet start in
// it the input is not a transport stream.
const uint64_t kLeadingJunkLimit = 1024u * 1024u;

class Input {
public:
    Input() {}
    ~Input();
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    // `name` "-" is standard input.
    bool Open(const std::string& name, std::string& error);

    // Fills `out` as far as the input goes; short only at the end or on an
    // error (see Failed()).
    size_t Read(uint8_t* out, size_t size);

    bool Failed() const { return failed_; }
    int Error() const { return error_; }  // errno of the failed read
    double Size() const { return size_; }  // < 0 when unknown (a pipe)
    double BytesRead() const { return static_cast<double>(bytesRead_); }
    const std::string& Name() const { return name_; }
    std::FILE* Stream() const { return file_; }

private:
    std::string name_;
    std::FILE* file_ = nullptr;
    bool failed_ = false;
    int error_ = 0;
    double size_ = -1;
    uint64_t bytesRead_ = 0;
};

class PacketSource {
public:
    // Buffers of `bufferPackets` packets (the last may be shorter).
    PacketSource(Input& input, size_t bufferPackets);

    // The next buffer: `packets` (>= 1) packets at `data`, valid until the
    // next call. False at the end of the input, on a read error, when the
    // input is not a transport stream, or when a signal asked to stop.
    bool Next(const uint8_t** data, size_t* packets);

    const PacketSync& Sync() const { return sync_; }
    bool ReadFailed() const { return input_.Failed(); }
    // A signal stopped the reading (its number), or 0.
    int Interruption() const { return interruption_; }

    // The warnings of the whole input, for standard error at the end: the
    // bytes passed over outside packets, a short last packet. Empty when
    // there is nothing to say.
    std::string Warnings() const;

private:
    Input& input_;
    size_t bufferPackets_;
    std::vector<uint8_t> buffer_;
    PacketSync sync_;
    int interruption_ = 0;
};

// Why `source` gave no packet from the start of `input`: a signal stopped
// it (the process ends so), the input could not be read (exit 2), or it is
// empty or holds no packets, not a transport stream (exit 3). Says so on
// standard error and returns the exit code. Every command decides this the
// same way.
int ExplainNoPackets(const Input& input, const PacketSource& source);

#endif
