#include "tools/info/packet_source.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "tools/info/info_options.h"
#include "tools/info/interruption.h"
#include "ts/packet.h"

Input::~Input() {
    if (file_ != nullptr && file_ != stdin) std::fclose(file_);
}

bool Input::Open(const std::string& name, std::string& error) {
    name_ = name;
    if (name == "-") {
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        file_ = stdin;
        return true;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(name, ec)) {
        error = "is a directory";
        return false;
    }
    file_ = std::fopen(name.c_str(), "rb");
    if (file_ == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    const std::uintmax_t size = std::filesystem::file_size(name, ec);
    if (!ec) size_ = static_cast<double>(size);
    return true;
}

size_t Input::Read(uint8_t* out, size_t size) {
    size_t got = 0;
    while (got < size) {
        errno = 0;
        const size_t wanted = size - got;
        const size_t n = std::fread(out + got, 1, wanted, file_);
        got += n;
        // A short read is the end or an error (a signal's EINTR among
        // them): either way no further read.
        if (n < wanted) {
            if (std::ferror(file_)) {
                failed_ = true;
                error_ = errno != 0 ? errno : EIO;
            }
            break;
        }
    }
    bytesRead_ += got;
    return got;
}

PacketSource::PacketSource(Input& input, size_t bufferPackets)
    : input_(input),
      bufferPackets_(bufferPackets),
      buffer_(PacketSync::CapacityFor(bufferPackets)),
      sync_(buffer_.data(), buffer_.size(), kLeadingJunkLimit) {}

bool PacketSource::Next(const uint8_t** data, size_t* packets) {
    sync_.Release();
    for (;;) {
        interruption_ = PendingInterruption();
        if (interruption_ != 0) return false;
        const size_t n = sync_.Gather(bufferPackets_);
        if (n == bufferPackets_ || (n > 0 && sync_.Finished())) {
            *data = sync_.Packets();
            *packets = n;
            return true;
        }
        if (sync_.Finished()) return false;
        uint8_t* space = sync_.FreeSpace();
        const size_t room = sync_.FreeSize();
        // The capacity leaves room whenever more is needed; should it not,
        // the input ends here rather than the loop running on.
        if (room == 0) return false;
        const size_t got = input_.Read(space, room);
        sync_.Commit(got);
        if (input_.Failed()) {
            // A signal during a blocking read shows as a failed read.
            interruption_ = PendingInterruption();
            return false;
        }
        if (got < room) sync_.SetEnd();
    }
}

int ExplainNoPackets(const Input& input, const PacketSource& source) {
    if (source.Interruption() != 0) return EndBySignal(source.Interruption());
    const std::string name = "'" + input.Name() + "'";
    std::string message;
    int code = kExitNotTransportStream;
    if (source.ReadFailed()) {
        code = kExitCannotRead;
        message = "cannot read " + name + ": " + std::strerror(input.Error());
    } else if (input.BytesRead() == 0) {
        message = name + " is empty: not a transport stream";
    } else {
        message = name + " is not a transport stream: no sync byte 0x47 at 188-, 192- or 204-byte steps";
    }
    std::fprintf(stderr, "kestrin-info: %s\n", message.c_str());
    return code;
}

std::string PacketSource::Warnings() const {
    std::string out;
    if (sync_.SkippedBytes() > 0) {
        const uint64_t skipped = sync_.SkippedBytes();
        out += "kestrin-info: warning: " + std::to_string(skipped) + (skipped == 1 ? " byte" : " bytes") +
               " outside the packets " + (skipped == 1 ? "was" : "were") + " skipped";
        const uint64_t lost = sync_.LostSyncs();
        if (lost > 0) out += " (the sync byte 0x47 was lost " + std::to_string(lost) + (lost == 1 ? " time)" : " times)");
        out += "\n";
    }
    if (sync_.TrailingBytes() > 0) {
        out += "kestrin-info: warning: the last " + std::to_string(sync_.TrailingBytes()) +
               " bytes are not a whole packet and were not read\n";
    }
    return out;
}
