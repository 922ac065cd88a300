// kestrin-info never loses a file: where --extract may write, what is left
// after a failure or a signal, and standard output's failures.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "tests/tools/tools_test_support.h"

namespace {

using tools_test::Bytes;
using tools_test::Info;
using tools_test::Quote;
using tools_test::RunCommand;
using tools_test::WorkPath;

// A fresh, empty folder in the work directory.
void Shell(const std::string& command) { EXPECT_EQ(std::system(command.c_str()), 0) << command; }

std::string FreshFolder(const std::string& name) {
    const std::string folder = WorkPath(name);
    Shell("rm -rf " + Quote(folder) + " && mkdir -p " + Quote(folder));
    return folder;
}

// The names in `folder`, hidden ones included, as `ls -A` gives them.
std::string Listing(const std::string& folder) {
    return RunCommand("ls -A " + Quote(folder)).out;
}

bool IsSymbolicLink(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

class ExtractionOutput : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sample_ = new Bytes(tools_test::ReadBytes(KESTRIN_SAMPLE_TS));
        // The extraction as a plain run writes it (checked against the
        // recorder in tools_info_test.cpp).
        const std::string path = WorkPath("reference-extract.ts");
        std::remove(path.c_str());
        const auto r = RunCommand(Info("--quiet --extract " + Quote(path) + " " + Quote(KESTRIN_SAMPLE_TS)));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        extracted_ = new Bytes(tools_test::ReadBytes(path));
        ASSERT_GT(extracted_->size(), 100u * 188);
    }
    static void TearDownTestSuite() {
        delete sample_;
        delete extracted_;
    }
    static Bytes* sample_;
    static Bytes* extracted_;
};
Bytes* ExtractionOutput::sample_ = nullptr;
Bytes* ExtractionOutput::extracted_ = nullptr;

TEST_F(ExtractionOutput, NeverReplacesTheInputOrAFileUnasked) {
    const Bytes kept = {'k', 'e', 'e', 'p', '\n'};
    // The stream without its one-segment PMT: an extraction that fails.
    Bytes withoutPmt;
    for (size_t o = 0; o + 188 <= sample_->size(); o += 188) {
        if (tools_test::Pid(&(*sample_)[o]) != 0x1FC8) withoutPmt.insert(withoutPmt.end(), &(*sample_)[o], &(*sample_)[o] + 188);
    }
    struct Case {
        const char* name;
        std::function<void(const std::string& folder)> prepare;  // in.ts is there already
        std::string arguments;  // run in the folder
        int exitCode;
        const char* message;       // in standard error; "" for none
        const char* output;        // the file to check afterwards, or ""
        enum { kAbsent, kKept, kExtracted } outcome;
        bool toStandardOutput;     // the packets are expected on standard output
        const char* link;          // a symbolic link that must stay one, or ""
    };
    auto nothing = [](const std::string&) {};
    auto existing = [&kept](const std::string& folder) { tools_test::WriteBytes(folder + "/out.ts", kept); };
    const Case cases[] = {
        {"the same path", nothing, "--extract in.ts in.ts", 6, "'in.ts' is the input 'in.ts': refused", "", Case::kAbsent,
         false, ""},
        {"a ./ path", nothing, "--extract ./in.ts in.ts", 6, "is the input", "", Case::kAbsent, false, ""},
        {"a symbolic link", [](const std::string& f) { Shell("ln -s in.ts " + Quote(f + "/link.ts")); },
         "--force --extract link.ts in.ts", 6, "is the input", "", Case::kAbsent, false, ""},
        {"a hard link", [](const std::string& f) { Shell("ln " + Quote(f + "/in.ts") + " " + Quote(f + "/hard.ts")); },
         "--force --extract hard.ts in.ts", 6, "is the input", "", Case::kAbsent, false, ""},
        {"the file standard input reads", nothing, "--force --extract in.ts - < in.ts", 6, "is the input", "",
         Case::kAbsent, false, ""},
        {"an existing file", existing, "--extract out.ts in.ts", 6, "'out.ts' exists: not replaced (--force replaces it)",
         "out.ts", Case::kKept, false, ""},
        {"an existing file with --force", existing, "--quiet --force --extract out.ts in.ts", 0, "", "out.ts",
         Case::kExtracted, false, ""},
        {"a new file, --extract=", nothing, "--quiet --extract=out.ts in.ts", 0, "", "out.ts", Case::kExtracted, false, ""},
        {"a link to an existing file with --force",
         [&kept](const std::string& f) {
             tools_test::WriteBytes(f + "/out.ts", kept);
             Shell("ln -s out.ts " + Quote(f + "/link.ts"));
         },
         "--quiet --force --extract link.ts in.ts", 0, "", "out.ts", Case::kExtracted, false, "link.ts"},
        {"a failed extraction keeps an existing file",
         [&](const std::string& f) {
             existing(f);
             tools_test::WriteBytes(f + "/no-pmt.ts", withoutPmt);
         },
         "--quiet --force --extract out.ts no-pmt.ts", 4, "no PMT on PID 0x1FC8 was read", "out.ts", Case::kKept, false, ""},
        {"a full device", nothing, "--quiet --extract /dev/full in.ts", 5, "cannot write /dev/full: No space left", "",
         Case::kAbsent, false, ""},
        // A file-size limit stands for a full disk: the write fails with
        // EFBIG part way.
        {"a file-size limit", nothing, "--quiet --extract out.ts in.ts", 5, "cannot write out.ts: File too large",
         "out.ts", Case::kAbsent, false, ""},
        {"a folder", [](const std::string& f) { Shell("mkdir " + Quote(f + "/dir")); },
         "--extract dir in.ts", 5, "cannot create 'dir': is a directory", "", Case::kAbsent, false, ""},
        {"a missing folder", nothing, "--extract no/such/out.ts in.ts", 5, "cannot create no/such/out.ts", "",
         Case::kAbsent, false, ""},
        {"an empty name", nothing, "--extract '' in.ts", 1, "--extract needs a file name", "", Case::kAbsent, false, ""},
        {"standard output", nothing, "--extract - in.ts", 0, "", "", Case::kAbsent, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = FreshFolder("output-case");
        tools_test::WriteBytes(folder + "/in.ts", *sample_);
        c.prepare(folder);
        const std::string before = Listing(folder);
        std::string command = "cd " + Quote(folder) + " && ";
        if (std::string(c.name) == "a file-size limit") command += "ulimit -f 64 && ";  // 32 KB
        const auto r = RunCommand(command + Info(c.arguments));
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        if (*c.message != '\0') {
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        } else {
            EXPECT_EQ(r.err, "");
        }
        EXPECT_TRUE(tools_test::ReadBytes(folder + "/in.ts") == *sample_) << "the input changed";
        // No temporary file is left, and nothing else appeared but the output.
        const std::string after = Listing(folder);
        EXPECT_EQ(after.find(".part"), std::string::npos) << after;
        if (*c.output != '\0') {
            const std::string path = folder + "/" + c.output;
            switch (c.outcome) {
                case Case::kAbsent:
                    EXPECT_FALSE(tools_test::FileExists(path));
                    EXPECT_EQ(after, before);
                    break;
                case Case::kKept:
                    EXPECT_TRUE(tools_test::ReadBytes(path) == kept);
                    EXPECT_EQ(after, before);
                    break;
                case Case::kExtracted:
                    EXPECT_TRUE(tools_test::ReadBytes(path) == *extracted_) << "not the extraction";
                    break;
            }
        } else if (c.exitCode != 0) {
            EXPECT_EQ(after, before);
        }
        // A link written through stays a link.
        if (*c.link != '\0') {
            EXPECT_TRUE(IsSymbolicLink(folder + "/" + c.link));
        }
        if (c.toStandardOutput) {
            EXPECT_TRUE(Bytes(r.out.begin(), r.out.end()) == *extracted_) << "not the extraction on standard output";
        }
    }
}

// A small file system that fills up during the extraction: only where this
// test may mount one (root, or a user namespace); the file-size limit above
// covers the same path everywhere.
TEST_F(ExtractionOutput, AFullFileSystemLeavesNoFile) {
    const std::string folder = FreshFolder("full-fs");
    const std::string small = folder + "/small";
    Shell("mkdir " + Quote(small));
    if (std::system(("unshare -m sh -c 'mount -t tmpfs -o size=64k tmpfs " + small + "' >/dev/null 2>&1").c_str()) != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    // Inside a private mount namespace: the mount is gone when the shell ends.
    const std::string script = "mount -t tmpfs -o size=64k tmpfs " + Quote(small) + " && " +
                               Info("--quiet --extract " + Quote(small + "/out.ts") + " " + Quote(KESTRIN_SAMPLE_TS)) +
                               "; echo \"rc=$?\"; ls -A " + Quote(small);
    const auto r = RunCommand("unshare -m sh -c " + Quote(script));
    EXPECT_EQ(r.out, "rc=5\n") << "the exit code and then what is left in the file system";
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
}

// SIGINT or SIGTERM while the stream still comes: the run ends by the
// signal and removes its temporary file.
TEST_F(ExtractionOutput, ASignalLeavesNoFile) {
    for (const char* signal : {"INT", "TERM"}) {
        SCOPED_TRACE(signal);
        const std::string folder = FreshFolder("signal");
        // The stream comes through a FIFO that stays open: the run waits
        // for more when the signal comes (or is still reading).
        const std::string script =
            "cd " + Quote(folder) + " && mkfifo in.fifo || exit 1; " + Info("--quiet --extract out.ts - < in.fifo") +
            " & pid=$!; exec 3>" + Quote(folder + "/in.fifo") + "; cat " + Quote(KESTRIN_SAMPLE_TS) +
            " >&3; sleep 1; kill -" + signal + " $pid; wait $pid; echo \"rc=$?\"; exec 3>&-; ls -A " + Quote(folder);
        const auto r = RunCommand("sh -c " + Quote(script));
        EXPECT_EQ(r.out, std::string("rc=") + (std::string(signal) == "INT" ? "130" : "143") + "\nin.fifo\n") << r.err;
    }
}

TEST(KestrinInfoStandardOutput, AFailedWriteIsAnErrorAndAClosedPipeIsQuiet) {
    const std::string sample = Quote(KESTRIN_SAMPLE_TS);
    // Standard output on a full device: every kind of output fails so.
    for (const std::string& arguments : {"--json " + sample, sample, "--details " + sample, "--list-services " + sample,
                                        "--extract - " + sample, std::string("--help"), std::string("--version")}) {
        SCOPED_TRACE(arguments);
        const auto r = RunCommand("sh -c " + Quote(Info(arguments) + " > /dev/full"));
        EXPECT_EQ(r.exitCode, 5);
        EXPECT_NE(r.err.find("kestrin-info: cannot write standard output: No space left on device"), std::string::npos)
            << r.err;
    }
    // A reader that stops early: the packets (far more than a pipe holds)
    // end with SIGPIPE's status, without a word; no file is left behind.
    const std::string folder = FreshFolder("closed-pipe");
    const std::string err = folder + "/err";
    auto r = RunCommand("sh -c " + Quote("(" + Info("--extract - " + sample) + " 2>" + Quote(err) +
                                         "; echo $? >&2) | head -c 1000 >/dev/null"));
    EXPECT_EQ(r.err, "141\n");
    EXPECT_EQ(tools_test::ReadText(err), "");
    // The texts of a run too; whether the reader is gone before the last
    // write depends on timing, so the status may be either.
    r = RunCommand("sh -c " + Quote("(" + Info(sample) + " 2>" + Quote(err) + "; echo $? >&2) | head -1 >/dev/null"));
    EXPECT_TRUE(r.err == "141\n" || r.err == "0\n") << r.err;
    EXPECT_EQ(tools_test::ReadText(err), "");
}

}  // namespace
