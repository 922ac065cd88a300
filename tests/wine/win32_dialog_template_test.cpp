// The three dialog templates as compiled into Kestrin.dll, read back from the
// DLL's resources: header, font and every control item, in UTF-16 exactly as
// the dialog manager receives them.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/wine/plugin_driver.h"

namespace {

// Resource texts are UTF-16 code units.
typedef std::basic_string<WCHAR> Utf16;

const WCHAR kCaption[] = {'Q', 'u', 'e', 'l', 'm', ' ', '-', ' ', 0x756A, 0x7D44, 0x60C5, 0x5831, ' ', '-', 0};
const WCHAR kFaceHgp[] = {'H',    'G',    'P',    0x5E73, 0x6210, 0x89D2, 0xFF7A, 0xFF9E, 0xFF7C,
                          0xFF6F, 0xFF78, 0x4F53, 'W',    '5',    'A',    'R',    0};
const WCHAR kFaceMsMincho[] = {0xFF2D, 0xFF33, ' ', 0xFF30, 0x660E, 0x671D, 0};
const WCHAR kFaceDf[] = {'D', 'F', 'P', 'G', 'o', 't', 'h', 'i', 'c', 'P', '-', 'W',
                         '5', '-', 'A', 'r', 'i', 'b', 'T', 'r', 'B', '1', '4', 0};
const WCHAR kPresent[] = {0x73FE, 0};          // 現
const WCHAR kBlackCircle[] = {0x25CF, 0};      // ●
const WCHAR kOneWhiteCircle[] = {'1', 0x25CB, 0};  // 1○
const WCHAR kEmpty[] = {0};

const WORD kButtonAtom = 0x0080;
const WORD kEditAtom = 0x0081;

// A bounded reader over the resource bytes: a read past the end sets the
// error flag and yields 0.
class TemplateReader {
public:
    TemplateReader(const BYTE* data, size_t size) : data_(data), size_(size), at_(0), error_(false) {}
    WORD Word() {
        WORD v = 0;
        Read(&v, sizeof v);
        return v;
    }
    DWORD Dword() {
        DWORD v = 0;
        Read(&v, sizeof v);
        return v;
    }
    BYTE Byte() {
        BYTE v = 0;
        Read(&v, sizeof v);
        return v;
    }
    short Short() { return static_cast<short>(Word()); }
    Utf16 String() {
        Utf16 s;
        for (WORD c = Word(); c != 0 && !error_; c = Word()) s += static_cast<WCHAR>(c);
        return s;
    }
    // sz_Or_Ord: 0 = none, 0xFFFF + ordinal, or a string. Ordinals come back
    // as (0xFFFF, ordinal), strings as their text.
    Utf16 NameOrOrdinal(WORD* ordinal) {
        *ordinal = 0;
        WORD first = Word();
        if (first == 0) return Utf16();
        if (first == 0xFFFF) {
            *ordinal = Word();
            return Utf16();
        }
        Utf16 s(1, static_cast<WCHAR>(first));
        s += String();
        return s;
    }
    void AlignDword() { at_ = (at_ + 3) & ~static_cast<size_t>(3); }
    bool Failed() const { return error_; }

private:
    void Read(void* out, size_t n) {
        if (at_ + n > size_) {
            error_ = true;
            return;
        }
        std::memcpy(out, data_ + at_, n);
        at_ += n;
    }
    const BYTE* data_;
    size_t size_;
    size_t at_;
    bool error_;
};

struct ItemExpectation {
    DWORD id;
    WORD classAtom;
    DWORD style;
    const WCHAR* text;
    short box[3][4];  // x, y, cx, cy for templates 101, 102, 103
};

const DWORD kChild = WS_CHILD | WS_VISIBLE;
const DWORD kEdit = kChild | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY | WS_BORDER;
const DWORD kChannel = kChild | BS_PUSHBUTTON | WS_TABSTOP;
const DWORD kClock = kChild | BS_PUSHBUTTON | BS_FLAT;
const DWORD kPush = kChild | BS_PUSHBUTTON;

const WCHAR kDigits[12][3] = {{'1', 0}, {'2', 0}, {'3', 0}, {'4', 0},      {'5', 0},      {'6', 0},
                              {'7', 0}, {'8', 0}, {'9', 0}, {'1', '0', 0}, {'1', '1', 0}, {'1', '2', 0}};

// In template order.
const ItemExpectation kItems[17] = {
    {1003, kEditAtom, kEdit, kEmpty, {{0, 0, 280, 61}, {0, 0, 199, 61}, {0, 0, 237, 61}}},
    {1008, kButtonAtom, kChannel, kDigits[0], {{2, 62, 17, 11}, {2, 62, 12, 11}, {2, 62, 14, 11}}},
    {1009, kButtonAtom, kChannel, kDigits[1], {{24, 62, 17, 11}, {17, 62, 12, 11}, {20, 62, 14, 11}}},
    {1010, kButtonAtom, kChannel, kDigits[2], {{46, 62, 17, 11}, {33, 62, 12, 11}, {38, 62, 14, 11}}},
    {1012, kButtonAtom, kChannel, kDigits[3], {{67, 62, 17, 11}, {48, 62, 12, 11}, {56, 62, 14, 11}}},
    {1013, kButtonAtom, kChannel, kDigits[4], {{89, 62, 17, 11}, {63, 62, 12, 11}, {74, 62, 14, 11}}},
    {1014, kButtonAtom, kChannel, kDigits[5], {{110, 62, 17, 11}, {79, 62, 12, 11}, {92, 62, 14, 11}}},
    {1015, kButtonAtom, kChannel, kDigits[6], {{132, 62, 17, 11}, {94, 62, 12, 11}, {110, 62, 14, 11}}},
    {1016, kButtonAtom, kChannel, kDigits[7], {{154, 62, 17, 11}, {110, 62, 12, 11}, {128, 62, 14, 11}}},
    {1017, kButtonAtom, kChannel, kDigits[8], {{175, 62, 17, 11}, {125, 62, 12, 11}, {146, 62, 14, 11}}},
    {1018, kButtonAtom, kChannel, kDigits[9], {{197, 62, 17, 11}, {141, 62, 12, 11}, {164, 62, 14, 11}}},
    {1019, kButtonAtom, kChannel, kDigits[10], {{218, 62, 17, 11}, {156, 62, 12, 11}, {182, 62, 14, 11}}},
    {1020, kButtonAtom, kChannel, kDigits[11], {{240, 62, 17, 11}, {171, 62, 12, 11}, {200, 62, 14, 11}}},
    {1011, kButtonAtom, kClock, kEmpty, {{261, 62, 42, 11}, {187, 62, 30, 11}, {219, 62, 37, 11}}},
    {1021, kButtonAtom, kPush, kPresent, {{280, 46, 23, 12}, {200, 46, 17, 12}, {238, 46, 19, 12}}},
    {1022, kButtonAtom, kPush, kBlackCircle, {{280, 12, 23, 12}, {200, 12, 17, 12}, {238, 12, 19, 12}}},
    {1023, kButtonAtom, kPush, kOneWhiteCircle, {{280, 29, 23, 12}, {200, 29, 17, 12}, {238, 29, 19, 12}}},
};

bool SameClassName(const Utf16& name, WORD atom) {
    const char* expected = atom == kButtonAtom ? "button" : "edit";
    if (name.size() != std::strlen(expected)) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        WCHAR c = name[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<WCHAR>(c - 'A' + 'a');
        if (c != static_cast<WCHAR>(expected[i])) return false;
    }
    return true;
}

struct TemplateExpectation {
    int id;
    int column;
    short width;
    const WCHAR* face;
};

void PrintTo(const TemplateExpectation& t, std::ostream* os) { *os << "template " << t.id; }

class DialogTemplate : public ::testing::TestWithParam<TemplateExpectation> {};

TEST_P(DialogTemplate, HeaderFontAndItemsAreExact) {
    const TemplateExpectation& t = GetParam();
    HMODULE module = KestrinLibrary();
    ASSERT_NE(module, nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(t.id), MAKEINTRESOURCEA(5) /* RT_DIALOG */);
    ASSERT_NE(found, nullptr);
    HGLOBAL loaded = LoadResource(module, found);
    ASSERT_NE(loaded, nullptr);
    TemplateReader r(static_cast<const BYTE*>(LockResource(loaded)), SizeofResource(module, found));

    EXPECT_EQ(r.Word(), 1u);       // dlgVer: an extended template
    EXPECT_EQ(r.Word(), 0xFFFFu);  // signature
    r.Dword();                     // helpID
    EXPECT_EQ(r.Dword(), static_cast<DWORD>(WS_EX_CLIENTEDGE | WS_EX_WINDOWEDGE));
    EXPECT_EQ(r.Dword(), static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU |
                                            WS_MINIMIZEBOX | DS_MODALFRAME | DS_SETFONT));
    const WORD count = r.Word();
    EXPECT_EQ(count, 17u);
    EXPECT_EQ(r.Short(), 0);
    EXPECT_EQ(r.Short(), 0);
    EXPECT_EQ(r.Short(), t.width);
    EXPECT_EQ(r.Short(), 73);
    WORD ordinal = 0;
    EXPECT_TRUE(r.NameOrOrdinal(&ordinal).empty());  // no menu
    EXPECT_EQ(ordinal, 0u);
    EXPECT_TRUE(r.NameOrOrdinal(&ordinal).empty());  // the standard dialog class
    EXPECT_EQ(ordinal, 0u);
    EXPECT_TRUE(r.String() == Utf16(kCaption));
    EXPECT_EQ(r.Word(), 9u);    // points
    EXPECT_EQ(r.Word(), 400u);  // weight
    EXPECT_EQ(r.Byte(), 0u);    // italic
    EXPECT_EQ(r.Byte(), 128u);  // SHIFTJIS_CHARSET
    EXPECT_TRUE(r.String() == Utf16(t.face));
    ASSERT_FALSE(r.Failed());

    for (int i = 0; i < count && i < 17; ++i) {
        const ItemExpectation& e = kItems[i];
        r.AlignDword();
        r.Dword();  // helpID
        EXPECT_EQ(r.Dword(), 0u) << "exStyle of " << e.id;
        EXPECT_EQ(r.Dword(), e.style) << "style of " << e.id;
        for (int k = 0; k < 4; ++k) EXPECT_EQ(r.Short(), e.box[t.column][k]) << "box of " << e.id << " [" << k << "]";
        EXPECT_EQ(r.Dword(), e.id);
        // The predefined class by atom (MSVC's rc) or by name (windres).
        WORD atom = 0;
        const Utf16 className = r.NameOrOrdinal(&atom);
        EXPECT_TRUE(atom == e.classAtom || SameClassName(className, e.classAtom)) << "class of " << e.id;
        WORD textOrdinal = 0;
        EXPECT_TRUE(r.NameOrOrdinal(&textOrdinal) == Utf16(e.text)) << "text of " << e.id;
        EXPECT_EQ(textOrdinal, 0u);
        EXPECT_EQ(r.Word(), 0u) << "creation data of " << e.id;
        ASSERT_FALSE(r.Failed()) << "item " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(KestrinDll, DialogTemplate,
                         ::testing::Values(TemplateExpectation{101, 0, 303, kFaceHgp},
                                           TemplateExpectation{102, 1, 217, kFaceMsMincho},
                                           TemplateExpectation{103, 2, 257, kFaceDf}));

}  // namespace
