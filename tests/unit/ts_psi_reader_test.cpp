// PsiReader: reads stop at the end of the bytes that were collected, the
// error flag stays set, and entered lengths are cut to their parent while
// the parent resumes at the declared end.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "ts/calendar.h"
#include "ts/psi_reader.h"

namespace {

// The bytes in a heap block of exactly their size, so that AddressSanitizer
// reports any read past them.
struct ExactBytes {
    explicit ExactBytes(std::vector<uint8_t> bytes)
        : size(static_cast<int32_t>(bytes.size())), data(new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]) {
        for (size_t i = 0; i < bytes.size(); ++i) data[i] = bytes[i];
    }
    int32_t size;
    std::unique_ptr<uint8_t[]> data;
};

TEST(PsiReader, FieldsReadBigEndianAndMaskedToTheirWidth) {
    ExactBytes b({0x12, 0x34, 0xFF, 0xC8, 0xF1, 0x23, 0xAB, 0xCD, 0xEF, 0x01, 0x02, 0x03, 0x04});
    PsiReader r(b.data.get(), b.size);
    EXPECT_EQ(r.U16(), 0x1234);
    EXPECT_EQ(r.Pid(), 0x1FC8);       // three reserved bits above it
    EXPECT_EQ(r.Length12(), 0x123);   // four flag bits above it
    EXPECT_EQ(r.U24(), 0xABCDEFu);
    EXPECT_EQ(r.U32(), 0x01020304u);
    EXPECT_TRUE(r.AtEnd());
    EXPECT_FALSE(r.Error());
}

// A read that does not fit returns 0, reads nothing, moves to the end and
// leaves the flag set for every later read, even one that would fit.
TEST(PsiReader, ReadPastTheEndSetsAStickyFlag) {
    struct Case {
        const char* name;
        int32_t skipFirst;
        int (*read)(PsiReader&);
    };
    const Case cases[] = {
        {"U8 at the end", 3, [](PsiReader& r) { return static_cast<int>(r.U8()); }},
        {"U16 with one byte left", 2, [](PsiReader& r) { return static_cast<int>(r.U16()); }},
        {"U24 with two left", 1, [](PsiReader& r) { return static_cast<int>(r.U24()); }},
        {"U32 with three left", 0, [](PsiReader& r) { return static_cast<int>(r.U32()); }},
        {"Bytes(4) with three left", 0,
         [](PsiReader& r) { return r.Bytes(4) == nullptr ? 0 : 1; }},
        {"Skip(4) with three left", 0, [](PsiReader& r) { r.Skip(4); return 0; }},
        {"negative Skip", 0, [](PsiReader& r) { r.Skip(-1); return 0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExactBytes b({0xAA, 0xBB, 0xCC});
        PsiReader r(b.data.get(), b.size);
        r.Skip(c.skipFirst);
        ASSERT_FALSE(r.Error());
        EXPECT_EQ(c.read(r), 0);
        EXPECT_TRUE(r.Error());
        EXPECT_TRUE(r.AtEnd());
        EXPECT_EQ(r.Remaining(), 0);
        // Sticky: nothing more is read, and the flag stays.
        EXPECT_EQ(r.U8(), 0);
        EXPECT_TRUE(r.Error());
    }
}

TEST(PsiReader, EmptyAndNegativeSizesReadNothing) {
    ExactBytes b({0x47});
    for (int32_t size : {0, -1, -188}) {
        SCOPED_TRACE(size);
        PsiReader r(b.data.get(), size);
        EXPECT_EQ(r.Size(), 0);
        EXPECT_TRUE(r.AtEnd());
        EXPECT_FALSE(r.CanRead(1));
        EXPECT_TRUE(r.CanRead(0));
        EXPECT_EQ(r.Peek(), 0);
        EXPECT_EQ(r.U8(), 0);
        EXPECT_TRUE(r.Error());
    }
}

// A descriptor loop: Enter cuts an inner length to what the parent holds,
// and the parent always resumes at the declared end (or its own end).
TEST(PsiReader, EnterCutsToTheParentAndResumesAtTheDeclaredEnd) {
    struct Case {
        const char* name;
        int32_t enter;         // the declared length
        int32_t innerSize;     // what the sub-reader holds
        bool innerError;       // cut or negative
        int32_t parentAfter;   // parent's position afterwards
        bool parentError;
    };
    // Six bytes; one is read before entering.
    const Case cases[] = {
        {"whole rest", 5, 5, false, 6, false},
        {"part", 2, 2, false, 3, false},
        {"zero", 0, 0, false, 1, false},
        {"one past the end", 6, 5, true, 6, true},
        {"far past the end", 255, 5, true, 6, true},
        {"negative", -3, 0, true, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExactBytes b({0x01, 0x10, 0x11, 0x12, 0x13, 0x14});
        PsiReader parent(b.data.get(), b.size);
        parent.U8();
        PsiReader inner = parent.Enter(c.enter);
        EXPECT_EQ(inner.Size(), c.innerSize);
        EXPECT_EQ(inner.Error(), c.innerError);
        EXPECT_EQ(parent.Position(), c.parentAfter);
        EXPECT_EQ(parent.Error(), c.parentError);
        if (c.innerSize > 0) {
            EXPECT_EQ(inner.Peek(), 0x10);
        }
        // The inner reader never reads into what follows it.
        inner.Skip(inner.Remaining());
        EXPECT_EQ(inner.U8(), 0);
    }
}

// Texts are decoded as far as they were received: TakeUpTo cuts without
// setting the flag, so the walk can still tell "cut" from "damaged".
TEST(PsiReader, TakeUpToCutsWithoutTheFlag) {
    ExactBytes b({0x03, 'a', 'b'});
    PsiReader r(b.data.get(), b.size);
    const uint8_t* text = nullptr;
    const int32_t n = r.TakeUpTo(r.U8(), &text);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(text[0], 'a');
    EXPECT_EQ(text[1], 'b');
    EXPECT_FALSE(r.Error());
    EXPECT_TRUE(r.AtEnd());
    EXPECT_EQ(r.TakeUpTo(-5, &text), 0);
    EXPECT_FALSE(r.Error());
}

TEST(PsiReader, BcdDigitsAreNotRangeTested) {
    EXPECT_EQ(FromBcd(0x00), 0);
    EXPECT_EQ(FromBcd(0x59), 59);
    EXPECT_EQ(FromBcd(0x60), 60);
    EXPECT_EQ(FromBcd(0xFF), 165);
}

}  // namespace
