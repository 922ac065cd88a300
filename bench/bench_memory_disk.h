// One cache file kept in memory for the guide benchmarks: its room reserved
// once, so that writes and reads are copies and no file system is measured.
// Every path names the same file; a replacement becomes it on the rename.
#ifndef KESTRIN_BENCH_BENCH_MEMORY_DISK_H
#define KESTRIN_BENCH_BENCH_MEMORY_DISK_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/support/quiet_platform.h"

namespace bench {

class MemoryDisk : public QuietPlatform {
public:
    explicit MemoryDisk(size_t room) {
        file_.reserve(room);
        temporary_.reserve(room);
    }
    FileHandle OpenReadFile(const char*, FileOpenError* error) override {
        if (file_.empty()) {
            *error = FileOpenError::kNotFound;
            return kInvalidFileHandle;
        }
        *error = FileOpenError::kNone;
        position_ = 0;
        return 1;
    }
    int32_t ReadFile(FileHandle, uint8_t* data, uint32_t size) override {
        size_t n = file_.size() - position_;
        if (n > size) n = size;
        std::memcpy(data, file_.data() + position_, n);
        position_ += n;
        return static_cast<int32_t>(n);
    }
    FileHandle CreateReplacementFile(const char*) override {
        temporary_.clear();
        return 2;
    }
    bool WriteFile(FileHandle, const uint8_t* data, uint32_t size) override {
        temporary_.insert(temporary_.end(), data, data + size);
        return true;
    }
    void CloseFile(FileHandle) override {}
    bool FlushFile(FileHandle) override { return true; }
    bool RenameFileOver(const char*, const char*) override {
        file_.swap(temporary_);
        return true;
    }
    bool RemoveFile(const char*) override { return false; }
    LocalTime GetLocalTime() override { return now; }

    size_t Size() const { return file_.size(); }
    // The file as another viewer's disk holds it.
    const std::vector<uint8_t>& File() const { return file_; }
    void SetFile(const std::vector<uint8_t>& bytes) { file_ = bytes; }

    // The computer's clock.
    LocalTime now = {2026, 12, 10, 21, 30, 0};

private:
    std::vector<uint8_t> file_, temporary_;
    size_t position_ = 0;
};

}  // namespace bench

#endif
