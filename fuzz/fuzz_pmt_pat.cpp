// ParsePmt on arbitrary bytes of arbitrary size, UpdateProgrammeMap on an
// arbitrary PMT section as the assembler hands it over, and the PAT
// rewriting (RewritePatPacket, WriteRewrittenPat) on arbitrary packets.
//
// Input: byte 0 picks the program number's high byte and whether the PAT
// part runs with the recording open; the rest is, at once, the PMT section
// (in a heap block of exactly its size) and the PAT packet (its first 188
// bytes, filled up with 0xFF).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_checks.h"
#include "plugin/plugin_state.h"
#include "plugin/recorder.h"
#include "plugin/section_handover.h"
#include "tests/support/test_plugin.h"
#include "ts/crc32.h"
#include "ts/packet.h"
#include "ts/programme_map.h"
#include "ts/section.h"

namespace {

void CheckTable(const EsPidTable& table, int32_t count) {
    FUZZ_CHECK(count >= 0 && count <= kEsPidCapacity, "ParsePmt returned %d entries", count);
    for (int32_t i = 0; i < count; ++i) {
        FUZZ_CHECK(table.entries[i].pid <= 0x1FFF, "entry %d holds PID 0x%04X", i,
                   table.entries[i].pid);
    }
}

void CheckPmt(const uint8_t* bytes, size_t size) {
    // Exactly `size` bytes on the heap: any read past them is caught.
    std::unique_ptr<uint8_t[]> section(new uint8_t[size == 0 ? 1 : size]);
    if (size != 0) std::memcpy(section.get(), bytes, size);
    EsPidTable table;
    std::memset(&table, 0xA5, sizeof table);
    table.count = 0;
    uint16_t programNumber = 0x1234;
    const int32_t count = ParsePmt(size == 0 ? nullptr : section.get(),
                                   static_cast<int32_t>(size), table, programNumber);
    CheckTable(table, count);
    if (size == 0 || bytes[0] != 0x02) {
        FUZZ_CHECK(count == 0 && programNumber == 0x1234,
                   "a section that is not a PMT changed the map");
    }
}

void CheckUpdate(const uint8_t* bytes, size_t size) {
    TestPlugin t;
    PluginState& s = t.s();
    // As the assembler hands a section over: section_length + 3 bytes (the
    // ones the input lacks are 0xFF), in a heap block of exactly that size.
    uint8_t header[3];
    std::memset(header, 0xFF, sizeof header);
    std::memcpy(header, bytes, size < sizeof header ? size : sizeof header);
    const size_t whole = static_cast<size_t>(SectionLength(header) + kSectionHeaderSize);
    std::unique_ptr<uint8_t[]> section(new uint8_t[whole]);
    std::memset(section.get(), 0xFF, whole);
    std::memcpy(section.get(), bytes, size < whole ? size : whole);
    {
        std::lock_guard<std::mutex> guard(s.lock);
        UpdateProgrammeMap(s, section.get(), static_cast<int32_t>(whole));
        CheckTable(s.esPidTable, s.esPidTable.count);
        const uint32_t key = s.pmtKey;
        const int32_t count = s.esPidTable.count;
        UpdateProgrammeMap(s, section.get(), static_cast<int32_t>(whole));  // the same section again: no work
        FUZZ_CHECK(s.pmtKey == key && s.esPidTable.count == count,
                   "a repeated PMT changed the map");
        // A size that is not the section's own: nothing is read.
        UpdateProgrammeMap(s, section.get(), static_cast<int32_t>(whole) - 1);
        FUZZ_CHECK(s.pmtKey == key && s.esPidTable.count == count, "a cut PMT changed the map");
    }
}

void CheckPat(const uint8_t* packet, uint16_t programNumber, bool recording) {
    uint8_t out[kTsPacketSize];
    std::memset(out, 0x5A, sizeof out);
    const bool written = RewritePatPacket(packet, programNumber, out);
    if (written) {
        FUZZ_CHECK(PacketHasPusi(packet), "a PAT packet without PUSI was rewritten");
        const int32_t s = PacketSectionStart(packet);
        FUZZ_CHECK(s >= 0 && s + 20 <= kTsPacketSize, "rewritten section at %d", s);
        FUZZ_CHECK(packet[s] == 0x00, "table_id 0x%02X rewritten", packet[s]);
        const int32_t end = s + SectionLength(packet + s) + 3;
        FUZZ_CHECK(end < kTsPacketSize, "a section ending at %d was rewritten", end);
        FUZZ_CHECK(out[s + 1] == 0xB0 && out[s + 2] == 0x11, "section_length not 17");
        FUZZ_CHECK(out[s + 12] == (programNumber >> 8) && out[s + 13] == (programNumber & 0xFF),
                   "program number not written");
        FUZZ_CHECK(Crc32Mpeg2(out + s, 20) == 0, "rewritten CRC_32 wrong");
        // Everything outside the new section and the old one's stuffing stays.
        const int32_t last = end > s + 20 ? end : s + 20;
        for (int32_t i = 0; i < kTsPacketSize; ++i) {
            if (i >= s && i < last) continue;
            FUZZ_CHECK(out[i] == packet[i], "byte %d changed outside the section", i);
        }
        for (int32_t i = s + 20; i < end; ++i) {
            FUZZ_CHECK(out[i] == 0xFF, "byte %d of the old section not stuffed", i);
        }
    }

    TestPlugin t;
    PluginState& st = t.s();
    FileHandle h = kInvalidFileHandle;
    if (recording) {
        h = t.platform.CreateRecordingFile("C:\\rec.ts");
        st.recordingFile = h;
        st.recording = true;
    }
    st.programNumber = programNumber;
    st.esPidTable.entries[0].pid = 0x01FF;
    st.esPidTable.count = 1;
    {
        std::unique_lock<std::mutex> held(st.lock);
        WriteRewrittenPat(st, packet);
        WriteStagedPackets(st, held);
    }
    const std::vector<uint8_t>& file = t.platform.files["C:\\rec.ts"];
    if (!recording || !written) {
        FUZZ_CHECK(file.empty(), "WriteRewrittenPat wrote %zu bytes", file.size());
    } else {
        FUZZ_CHECK(file.size() == static_cast<size_t>(kTsPacketSize) &&
                       std::memcmp(file.data(), out, kTsPacketSize) == 0,
                   "WriteRewrittenPat wrote other bytes than RewritePatPacket made");
    }
    FUZZ_CHECK(t.platform.writesToClosedFile == 0, "write to a closed file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t control = data[0];
    const uint8_t* bytes = data + 1;
    const size_t n = size - 1;

    CheckPmt(bytes, n);
    CheckUpdate(bytes, n);

    uint8_t packet[kTsPacketSize];
    std::memset(packet, 0xFF, sizeof packet);
    std::memcpy(packet, bytes, n < sizeof packet ? n : sizeof packet);
    const uint16_t programNumber = static_cast<uint16_t>((control << 8) | 0x38);
    CheckPat(packet, programNumber, (control & 1) != 0);
    return 0;
}
