#include "tools/info/standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

StandardOutput::StandardOutput() {
#ifdef _WIN32
    // Packets and UTF-8 as they are, without CR LF translation.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}

bool StandardOutput::Failed(int error) {
    failed_ = true;
    if (error == EPIPE) {
        closedPipe_ = true;
    } else {
        error_ = std::string("cannot write standard output: ") + std::strerror(error);
    }
    return false;
}

bool StandardOutput::Write(const void* data, size_t size) {
    if (failed_ || finished_) return false;
    if (size == 0) return true;
    errno = 0;
    if (std::fwrite(data, 1, size, stdout) != size) return Failed(errno != 0 ? errno : EIO);
    return true;
}

bool StandardOutput::Flush() {
    if (failed_ || finished_) return !failed_;
    errno = 0;
    if (std::fflush(stdout) != 0) return Failed(errno != 0 ? errno : EIO);
    return true;
}

bool StandardOutput::Finish() {
    if (finished_) return !failed_;
    if (!Flush()) return false;
    finished_ = true;
    errno = 0;
    // Closing reports what a flush cannot: a delayed write error of the file
    // standard output was redirected to.
    if (std::fclose(stdout) != 0) return Failed(errno != 0 ? errno : EIO);
    return true;
}
