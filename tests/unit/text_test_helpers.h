// Text fixtures shared by the event-text and service-name tests.
#ifndef KESTRIN_TESTS_UNIT_TEXT_TEST_HELPERS_H
#define KESTRIN_TESTS_UNIT_TEXT_TEST_HELPERS_H

#include <gtest/gtest.h>

#include <string>

#include "tools/streamkit/arib_encoder.h"
#include "tools/streamkit/stream_builder.h"

// UTF-8 literal to the Shift_JIS bytes the window is expected to show.
inline std::string Sjis(const char* utf8) {
    bool ok = true;
    std::string s = Utf8ToShiftJis(utf8, &ok);
    EXPECT_TRUE(ok) << utf8;
    return s;
}

// ASCII as ARIB alphanumerics in middle size: MSZ, LS1, the bytes. Decodes
// back to the same ASCII.
inline build::Bytes Alnum(const std::string& ascii) {
    build::Bytes b = {0x89, 0x0E};
    b.insert(b.end(), ascii.begin(), ascii.end());
    return b;
}

#endif
