// The real broadcast data kept in the repository (tests/data/real), read for
// the GoogleTest programs. A file that is missing or cannot be read fails the
// test that asked for it, naming the path, and gives no bytes: the tests then
// stop on their size checks instead of indexing into nothing.
#ifndef KESTRIN_TESTS_SUPPORT_REAL_DATA_H
#define KESTRIN_TESTS_SUPPORT_REAL_DATA_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline std::vector<uint8_t> ReadTestDataFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        ADD_FAILURE() << "cannot open the test data file " << path
                      << " (the real data is kept in the repository under tests/data/real)";
        return bytes;
    }
    uint8_t chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        ADD_FAILURE() << "cannot read the test data file " << path;
        bytes.clear();
    }
    return bytes;
}

#ifdef KESTRIN_REALDATA_DIR
// A file of tests/data/real by its name, for example "tokyo-mx-psi.ts".
inline std::vector<uint8_t> ReadRealData(const char* name) {
    std::string path = std::string(KESTRIN_REALDATA_DIR) + "/" + name;
#ifdef _WIN32
    // A cross-built test under Wine sees the Linux root as drive Z:.
    if (path[0] == '/') path = "Z:" + path;
#endif
    return ReadTestDataFile(path);
}
#endif

#endif
