#include "tools/info/output_file.h"

#include "tools/info/interruption.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// Temporary names tried before creation is given up.
const int kTemporaryNameAttempts = 100;

#ifdef _WIN32
FileIdentity IdentityOfHandle(HANDLE handle) {
    FileIdentity id;
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(handle, &info)) {
        return id;
    }
    id.known = true;
    id.regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    id.device = info.dwVolumeSerialNumber;
    id.inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return id;
}

int ProcessId() { return _getpid(); }

// Created only when no file of that name exists.
std::FILE* CreateNew(const std::string& path) {
    const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    std::FILE* f = _fdopen(fd, "wb");
    if (f == nullptr) _close(fd);
    return f;
}

bool SyncToDisk(std::FILE* f) { return _commit(_fileno(f)) == 0; }

bool RenameOnto(const std::string& from, const std::string& to, bool replace) {
    if (MoveFileExA(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0)) return true;
    errno = GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS ? EEXIST : EACCES;
    return false;
}
#else
FileIdentity IdentityOfStat(const struct stat& st) {
    FileIdentity id;
    id.known = true;
    id.regular = S_ISREG(st.st_mode);
    id.device = static_cast<uint64_t>(st.st_dev);
    id.inode = static_cast<uint64_t>(st.st_ino);
    return id;
}

int ProcessId() { return static_cast<int>(::getpid()); }

std::FILE* CreateNew(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, "wb");
    if (f == nullptr) ::close(fd);
    return f;
}

bool SyncToDisk(std::FILE* f) { return ::fsync(::fileno(f)) == 0; }

// Without `replace`, a file that appeared at `to` meanwhile is kept: a hard
// link fails when the name exists. File systems without hard links get the
// plain rename.
bool RenameOnto(const std::string& from, const std::string& to, bool replace) {
    if (!replace) {
        if (::link(from.c_str(), to.c_str()) == 0) {
            ::unlink(from.c_str());
            return true;
        }
        if (errno == EEXIST) return false;
    }
    return std::rename(from.c_str(), to.c_str()) == 0;
}
#endif

// The folder part of `path`, with its separator, or "" for the current one.
std::string FolderOf(const std::string& path) {
#ifdef _WIN32
    const size_t slash = path.find_last_of("/\\:");
#else
    const size_t slash = path.find_last_of('/');
#endif
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

FileIdentity IdentityOfPath(const std::string& path) {
#ifdef _WIN32
    const HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return FileIdentity();
    const FileIdentity id = IdentityOfHandle(h);
    CloseHandle(h);
    return id;
#else
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return FileIdentity();
    return IdentityOfStat(st);
#endif
}

FileIdentity IdentityOfStream(std::FILE* stream) {
#ifdef _WIN32
    return IdentityOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))));
#else
    struct stat st;
    if (::fstat(::fileno(stream), &st) != 0) return FileIdentity();
    return IdentityOfStat(st);
#endif
}

OutputFile::Check OutputFile::Prepare(const std::string& name, bool force, const FileIdentity& input) {
    name_ = name;
    target_ = name;
    force_ = force;
    if (name == "-") {
        kind_ = Kind::kStandardOutput;
        return Check::kOk;
    }
    if (IdentityOfPath(name).SameFileAs(input)) return Check::kIsInput;
    std::error_code ec;
    const fs::file_status own = fs::symlink_status(name, ec);
    if (ec || !fs::exists(own)) {
        kind_ = Kind::kReplaced;
        return Check::kOk;
    }
    fs::file_status what = own;
    if (fs::is_symlink(own)) {
        // A link is written through: its target is the file replaced. A
        // dangling link is itself the name replaced.
        const fs::file_status followed = fs::status(name, ec);
        if (!ec && fs::exists(followed)) {
            what = followed;
            const fs::path resolved = fs::canonical(name, ec);
            if (!ec) target_ = resolved.string();
        }
    }
    if (fs::is_directory(what)) return Check::kIsDirectory;
    if (!fs::is_regular_file(what) && !fs::is_symlink(what)) {
        kind_ = Kind::kDevice;
        return Check::kOk;
    }
    if (!force) return Check::kExists;
    kind_ = Kind::kReplaced;
    return Check::kOk;
}

bool OutputFile::Fail(const std::string& what, int error) {
    error_ = what + " " + name_ + ": " + std::strerror(error != 0 ? error : EIO);
    return false;
}

bool OutputFile::Open() {
    switch (kind_) {
        case Kind::kNone:
            error_ = "no output was prepared";
            return false;
        case Kind::kStandardOutput:
            return true;
        case Kind::kDevice:
            file_ = std::fopen(name_.c_str(), "wb");
            return file_ != nullptr || Fail("cannot open", errno);
        case Kind::kReplaced:
            break;
    }
    const std::string folder = FolderOf(target_);
    const std::string base = target_.substr(folder.size());
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        const std::string candidate =
            folder + "." + base + "." + std::to_string(ProcessId()) + "-" + std::to_string(attempt) + ".part";
        // Known to the signal handler before it can exist.
        RegisterTemporaryFile(candidate.c_str());
        errno = 0;
        file_ = CreateNew(candidate);
        if (file_ != nullptr) {
            temporary_ = candidate;
            return true;
        }
        const int error = errno;
        ForgetTemporaryFile();
        errno = error;
        if (errno != EEXIST) break;
    }
    return Fail("cannot create", errno);
}

bool OutputFile::Write(const uint8_t* data, size_t size) {
    if (kind_ == Kind::kStandardOutput) {
        if (standardOutput_.Write(data, size)) return true;
        error_ = standardOutput_.Error();
        return false;
    }
    if (file_ == nullptr) {
        error_ = "cannot write " + name_ + ": it is not open";
        return false;
    }
    errno = 0;
    if (std::fwrite(data, 1, size, file_) == size) return true;
    return Fail("cannot write", errno);
}

bool OutputFile::Close() {
    if (kind_ == Kind::kStandardOutput) {
        if (standardOutput_.Flush()) return true;
        error_ = standardOutput_.Error();
        return false;
    }
    if (file_ == nullptr) return true;
    std::FILE* f = file_;
    file_ = nullptr;
    errno = 0;
    bool ok = std::fflush(f) == 0;
    int error = errno;
    // The bytes are on the disk before the name points at them.
    if (ok && kind_ == Kind::kReplaced && !SyncToDisk(f)) {
        ok = false;
        error = errno;
    }
    errno = 0;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        error = errno;
    }
    return ok || Fail("cannot write", error);
}

bool OutputFile::Commit() {
    if (kind_ != Kind::kReplaced) return true;
    if (temporary_.empty()) {
        error_ = "cannot write " + name_ + ": nothing was written";
        return false;
    }
    errno = 0;
    if (!RenameOnto(temporary_, target_, force_)) {
        if (errno == EEXIST) {
            error_ = name_ + " appeared meanwhile and was kept (--force replaces it)";
            return false;
        }
        return Fail("cannot rename the temporary file to", errno);
    }
    // After the rename: a signal before it still removes the file.
    ForgetTemporaryFile();
    temporary_.clear();
    return true;
}

void OutputFile::Discard() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        std::remove(temporary_.c_str());
        ForgetTemporaryFile();
        temporary_.clear();
    }
}
