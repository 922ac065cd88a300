// Where --extract writes, chosen so that no file is ever lost:
//
// - an output that is the input (the same file under another path, through
//   a symbolic or a hard link) is refused before anything is opened for
//   writing;
// - an existing file is replaced only when asked (--force);
// - a file is written under a temporary name beside the target and renamed
//   into place only when the whole run succeeded; on any failure the
//   temporary file is removed and an existing target stays as it was;
// - "-" is standard output; an existing device or pipe (/dev/null,
//   /dev/full, a FIFO) is written in place, nothing stored being replaced.
#ifndef KESTRIN_TOOLS_INFO_OUTPUT_FILE_H
#define KESTRIN_TOOLS_INFO_OUTPUT_FILE_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/info/standard_output.h"

// What identifies a file whatever the path: device and inode (volume serial
// number and file index on Windows).
struct FileIdentity {
    bool known = false;
    bool regular = false;
    uint64_t device = 0;
    uint64_t inode = 0;

    bool SameFileAs(const FileIdentity& other) const {
        return known && other.known && device == other.device && inode == other.inode;
    }
};
// Of the file `path` names, links followed; unknown when it does not exist.
FileIdentity IdentityOfPath(const std::string& path);
// Of the file an open stream reads or writes.
FileIdentity IdentityOfStream(std::FILE* stream);

class OutputFile {
public:
    enum class Check {
        kOk,
        kIsInput,      // the output is the input file
        kExists,       // a file is there and --force was not given
        kIsDirectory,
    };

    explicit OutputFile(StandardOutput& standardOutput) : standardOutput_(standardOutput) {}
    // Removes the temporary file unless it was committed.
    ~OutputFile() { Discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Decides where the bytes of `name` (not empty) will go; opens nothing.
    Check Prepare(const std::string& name, bool force, const FileIdentity& input);

    // Creates the temporary file (or opens the device; standard output
    // needs nothing). False with Error() when that fails.
    bool Open();
    bool Write(const uint8_t* data, size_t size);
    // Writes out and closes the file (standard output is flushed).
    bool Close();
    // Renames the temporary file to the target. Call after Close.
    bool Commit();
    // Closes and removes the temporary file, if any.
    void Discard();

    bool ToStandardOutput() const { return kind_ == Kind::kStandardOutput; }
    const std::string& Name() const { return name_; }
    const std::string& Error() const { return error_; }

private:
    enum class Kind { kNone, kStandardOutput, kDevice, kReplaced };

    bool Fail(const std::string& what, int error);

    StandardOutput& standardOutput_;
    Kind kind_ = Kind::kNone;
    std::string name_;       // as the user gave it
    std::string target_;     // the path renamed onto (a link's target)
    std::string temporary_;  // while it exists
    std::FILE* file_ = nullptr;
    bool force_ = false;
    std::string error_;
};

#endif
