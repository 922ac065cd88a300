// Standard output with every write checked. A write or flush that fails
// ends the run with a message and a non-zero exit code; a reader that
// closed the pipe (`| head`) ends it quietly.
#ifndef KESTRIN_TOOLS_INFO_STANDARD_OUTPUT_H
#define KESTRIN_TOOLS_INFO_STANDARD_OUTPUT_H

#include <cstddef>
#include <string>

class StandardOutput {
public:
    // Binary mode where that matters (Windows).
    StandardOutput();

    // False once any write failed; nothing more is written then.
    bool Write(const void* data, size_t size);
    bool Write(const std::string& text) { return Write(text.data(), text.size()); }
    bool Flush();
    // Flushes and closes standard output at the end of the run, so that a
    // failure of the last bytes is seen too.
    bool Finish();

    bool Ok() const { return !failed_; }
    // The reader went away (EPIPE): not an error to report.
    bool ClosedPipe() const { return closedPipe_; }
    // Why the write failed ("cannot write standard output: ...").
    const std::string& Error() const { return error_; }

private:
    bool Failed(int error);

    bool failed_ = false;
    bool closedPipe_ = false;
    bool finished_ = false;
    std::string error_;
};

#endif
