// The caption decoder on real caption streams (tests/data/real/captions):
// every data group of every file, the text against the reference decoding
// kept beside three of them, and the same streams wrapped in PES and TS
// packets through the PES assembler.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/utf8_text.h"
#include "tests/support/real_data.h"
#include "text/caption_decoder.h"
#include "tools/streamkit/arib_encoder.h"
#include "tools/streamkit/caption_builder.h"
#include "ts/pes_assembler.h"

namespace {

using build::Bytes;

// The rows of each reported screen in the order they were written, ruby
// included, as UTF-8; and the screens' text as the viewer shows it.
class Transcript : public CaptionSink {
public:
    std::string written;
    std::vector<std::string> screens;

    void OnCaptionScreen(const CaptionScreen& screen, int32_t delayMs) override {
        for (int32_t i = 0; i < screen.rowCount; ++i) {
            written += ShiftJisToUtf8(std::string(screen.rows[i].text, static_cast<size_t>(screen.rows[i].length)));
        }
        written += "\n";
        char text[4096];
        FormatCaptionText(screen, false, text, sizeof text);
        screens.push_back(std::to_string(delayMs) + ":" + ShiftJisToUtf8(text));
    }
};

struct RealFile {
    const char* name;
    int32_t dataGroups;
    bool hasReference;
};

const RealFile kFiles[] = {
    {"captions/samurai_flamenco_13.es", 1809, true},
    {"captions/pokemon-2023.es", 3866, true},
    {"captions/toriko_subs.es", 1733, true},
    {"captions/maho_koukou.es", 393, false},
};

std::unique_ptr<CaptionDecoder> NewDecoder() {
    std::unique_ptr<CaptionDecoder> d(new CaptionDecoder);
    ResetCaptionDecoder(*d, CaptionDecoderOptions{0, CaptionProfile::kA});
    return d;
}

// Text reduced to what both decodings agree on: no spaces or line breaks,
// full-width ASCII as ASCII (middle size gives ASCII here, full width
// there), the code page 932 forms of the wave dash and the like as JIS X
// 0208's, and every symbol outside code page 932 (the reference's ♫ and ➡,
// our Private Use Area for the same additional symbols) as '?'. DRCS
// characters (our 〓) are dropped: the reference writes a tag for them.
std::string Normalise(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size();) {
        const size_t n = CharLength(s, i);
        uint32_t c = CodePoint(s, i, n);
        const std::string piece = s.substr(i, n);
        i += n;
        if (c == ' ' || c == '\n' || c == '\r' || c == 0x3000 || c == 0x3013) continue;
        if (c >= 0xFF01 && c <= 0xFF5E) c -= 0xFEE0;
        if (c == 0x301C) c = '~';
        if (c == 0x2225) c = 0x2016;
        if (c == 0x2212) c = '-';
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        bool inCp932 = true;
        Utf8ToShiftJis(piece, &inCp932);
        const bool outsideCp932 = !inCp932 || (c >= 0xE000 && c <= 0xF8FF);
        out += outsideCp932 ? std::string("?") : piece;
    }
    return out;
}

// The reference decoding's text lines: markup tags and DRCS pictures
// removed.
std::vector<std::string> ReferenceLines(const std::string& reference) {
    std::vector<std::string> lines;
    size_t at = 0;
    bool inDrcs = false;
    while (at < reference.size()) {
        size_t end = reference.find('\n', at);
        if (end == std::string::npos) end = reference.size();
        const std::string line = reference.substr(at, end - at);
        at = end + 1;
        if (line.find("<DRCS set") != std::string::npos) inDrcs = true;
        if (line.find("</DRCS>") != std::string::npos) {
            inDrcs = false;
            continue;
        }
        if (inDrcs) continue;
        std::string text;
        bool inTag = false;
        for (char c : line) {
            if (c == '<') inTag = true;
            else if (c == '>') inTag = false;
            else if (!inTag) text += c;
        }
        text = Normalise(text);
        if (!text.empty()) lines.push_back(text);
    }
    return lines;
}

TEST(CaptionRealData, EveryDataGroupDecodesWithItsCrc) {
    for (const RealFile& f : kFiles) {
        SCOPED_TRACE(f.name);
        const Bytes file = ReadRealData(f.name);
        const std::vector<Bytes> payloads = build::SplitCaptionPayloads(file);
        ASSERT_EQ(static_cast<int32_t>(payloads.size()), f.dataGroups);
        auto d = NewDecoder();
        Transcript t;
        for (const Bytes& p : payloads) {
            const CaptionGroupResult r = DecodeCaptionPesPayload(*d, p.data(), static_cast<int32_t>(p.size()), &t);
            EXPECT_NE(r, CaptionGroupResult::kBadDataGroup);
            EXPECT_NE(r, CaptionGroupResult::kNotCaption);
        }
        EXPECT_EQ(d->counts.dataGroups, f.dataGroups);
        EXPECT_EQ(d->counts.badDataGroups, 0);
        EXPECT_EQ(d->counts.cutDataUnits, 0);
        EXPECT_EQ(d->counts.drcsDropped, 0);
        EXPECT_GT(d->counts.statements, 0);
    }
}

TEST(CaptionRealData, TextMatchesTheReferenceDecoding) {
    for (const RealFile& f : kFiles) {
        if (!f.hasReference) continue;
        SCOPED_TRACE(f.name);
        const Bytes file = ReadRealData(f.name);
        const Bytes referenceBytes = ReadRealData((std::string(f.name) + ".txt").c_str());
        const std::vector<std::string> reference =
            ReferenceLines(std::string(referenceBytes.begin(), referenceBytes.end()));
        auto d = NewDecoder();
        Transcript t;
        for (const Bytes& p : build::SplitCaptionPayloads(file)) {
            DecodeCaptionPesPayload(*d, p.data(), static_cast<int32_t>(p.size()), &t);
        }
        // Every reference line is found, in order, in what we wrote. The
        // reference decodes the statements of both groups while a switch
        // is under way; there the same statements come twice.
        const std::string ours = Normalise(t.written);
        size_t cursor = 0;
        int32_t found = 0;
        int32_t missing = 0;
        for (const std::string& line : reference) {
            const size_t at = ours.find(line, cursor);
            if (at == std::string::npos) {
                if (++missing <= 5) ADD_FAILURE() << "reference line not found: " << line;
                continue;
            }
            cursor = at + line.size();
            ++found;
        }
        EXPECT_EQ(missing, 0);
        EXPECT_GT(found, 100);
    }
}

TEST(CaptionRealData, TheSameThroughPesAndTransportStreamPackets) {
    const uint16_t kPid = 0x0130;
    for (const RealFile& f : kFiles) {
        SCOPED_TRACE(f.name);
        const std::vector<Bytes> payloads = build::SplitCaptionPayloads(ReadRealData(f.name));
        auto direct = NewDecoder();
        Transcript expected;
        for (const Bytes& p : payloads) {
            DecodeCaptionPesPayload(*direct, p.data(), static_cast<int32_t>(p.size()), &expected);
        }

        build::StreamBuilder builder;
        std::unique_ptr<PesAssembler> assembler(new PesAssembler);
        ResetPesAssembler(*assembler, kPid);
        auto viaStream = NewDecoder();
        Transcript got;
        uint64_t pts = 0;
        int32_t completed = 0;
        for (const Bytes& p : payloads) {
            pts += 45000;
            for (const Bytes& packet : build::PesPackets(builder, kPid, build::PesPacketWithPts(pts, p))) {
                if (AssemblePes(*assembler, packet.data()) != PesResult::kComplete) continue;
                PesPacket pes;
                ASSERT_TRUE(ParsePesPacket(assembler->buffer, assembler->packetSize, &pes));
                EXPECT_EQ(pes.pts, pts);
                ++completed;
                DecodeCaptionPesPayload(*viaStream, pes.payload, pes.payloadSize, &got);
            }
        }
        EXPECT_EQ(completed, static_cast<int32_t>(payloads.size()));
        EXPECT_EQ(got.screens, expected.screens);
    }
}

TEST(CaptionRealData, LibraryPayloadsWithDrcs) {
    auto d = NewDecoder();
    Transcript t;
    const Bytes drcs = ReadRealData("captions/libaribcaption-sample-drcs.pes-payload.bin");
    ASSERT_EQ(DecodeCaptionPesPayload(*d, drcs.data(), static_cast<int32_t>(drcs.size()), &t),
              CaptionGroupResult::kStatement);
    EXPECT_EQ(d->counts.drcsGlyphs, 3);
    EXPECT_EQ(d->drcs.count, 3);
    ASSERT_EQ(t.screens.size(), 1u);
    // Three DRCS glyphs among the text: the double parentheses around sound
    // shown as 〓, and 凜, which the decoder recognises.
    EXPECT_EQ(t.screens[0], "0:〓バサバサッ！〓\r\n(白鬼院凜々蝶)〓あっ…〓");

    const Bytes one = ReadRealData("captions/libaribcaption-sample-1.pes-payload.bin");
    auto d1 = NewDecoder();
    Transcript t1;
    ASSERT_EQ(DecodeCaptionPesPayload(*d1, one.data(), static_cast<int32_t>(one.size()), &t1),
              CaptionGroupResult::kStatement);
    // ♫ (an additional symbol in a Kanji row, code page 932's user-defined
    // area) and the wave dash, at the position ACPS 170;509 set.
    ASSERT_EQ(d1->screen.rowCount, 1);
    EXPECT_EQ(d1->screen.rows[0].x, 170);
    EXPECT_EQ(d1->screen.rows[0].y, 509);
    EXPECT_EQ(std::string(d1->screen.rows[0].text), "\xF4\x4B\x81\x60");
}

}  // namespace
