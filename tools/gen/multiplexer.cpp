#include "tools/gen/multiplexer.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <deque>
#include <memory>
#include <vector>

#include "tools/streamkit/arib_encoder.h"
#include "tools/streamkit/caption_builder.h"
#include "tools/streamkit/stream_builder.h"
#include "tools/gen/elementary_streams.h"
#include "tools/gen/partial_reception.h"
#include "tools/gen/scenario_values.h"
#include "tools/gen/service_information.h"

namespace gen {

namespace {

const int64_t kPacketBits = 188 * 8;
const int kPayloadSize = 184;

const int64_t kPcrInterval = 40 * kTicksPerMs;

const int64_t kPcrOrigin = 10 * kClock;    // PCR of the first packet
const int64_t kPtsDelay = 700 * kTicksPerMs;  // decoding delay after arrival

const uint16_t kNullPid = 0x1FFF;

typedef std::vector<uint8_t> Packet;

// Time of the first byte of packet i.
int64_t PacketTime(uint64_t i, uint64_t bitrate) {
    return static_cast<int64_t>(i * static_cast<uint64_t>(kPacketBits * kClock) / bitrate);
}

// PCR of packet i: the time of its byte 10, which ends program_clock_reference_base.
int64_t PacketPcr(uint64_t i, uint64_t bitrate) {
    return kPcrOrigin + static_cast<int64_t>((i * 188 + 10) * 8 * static_cast<uint64_t>(kClock) / bitrate);
}

void WritePcr(uint8_t* at, int64_t pcr) {
    const uint64_t base = static_cast<uint64_t>(pcr / 300) & 0x1FFFFFFFFull;
    const uint32_t extension = static_cast<uint32_t>(pcr % 300);
    at[0] = static_cast<uint8_t>(base >> 25);
    at[1] = static_cast<uint8_t>(base >> 17);
    at[2] = static_cast<uint8_t>(base >> 9);
    at[3] = static_cast<uint8_t>(base >> 1);
    at[4] = static_cast<uint8_t>(((base & 1) << 7) | 0x7E | (extension >> 8));
    at[5] = static_cast<uint8_t>(extension);
}

void WriteHeader(uint8_t* p, uint16_t pid, bool pusi, uint8_t adaptationFieldControl, uint8_t counter) {
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>((pusi ? 0x40 : 0x00) | ((pid >> 8) & 0x1F));
    p[2] = static_cast<uint8_t>(pid);
    p[3] = static_cast<uint8_t>((adaptationFieldControl << 4) | (counter & 0x0F));
}

// --- Elementary streams -------------------------------------------------------------

struct EsSource {
    ElementaryStream es;
    bool carriesPcr = false;
    uint8_t streamId = 0;
    int64_t framePeriod = 0;
    uint32_t framesPerKey = 1;
    uint32_t frameBytes = 0;
    int64_t nextFrameDue = 0;
    uint32_t frameNumber = 0;
    int64_t packetInterval = 0;
    int64_t nextPacketDue = 0;
    std::deque<Packet> pes;       // PES packets not yet fully sent
    std::deque<std::pair<int64_t, Packet>> scheduled;  // captions: PES packets and when they are due
    std::deque<bool> pesIsKey;
    size_t offset = 0;            // bytes of pes.front() already sent
    uint8_t counter = 0;
    int64_t lastPcr = -kClock;

    void AddFrame() {
        const bool key = frameNumber % framesPerKey == 0;
        const uint64_t pts = static_cast<uint64_t>((kPcrOrigin + nextFrameDue + kPtsDelay) / 300) & 0x1FFFFFFFFull;
        Bytes payload;
        switch (es.codec) {
            case Codec::kMpeg2Video:
                payload = Mpeg2VideoFrame(frameNumber, key, Mpeg2Picture{es.width, es.height}, es.kbps * 1000,
                                          frameBytes);
                break;
            case Codec::kH264:
                payload = H264AccessUnit(frameNumber % framesPerKey, frameNumber / framesPerKey, frameBytes);
                break;
            case Codec::kAac:
                payload = AacFrame(frameBytes);
                break;
            case Codec::kCaption:
                return;  // scheduled, not framed
        }
        pes.push_back(PesPacket(streamId, pts, payload, !es.isVideo()));
        pesIsKey.push_back(key && es.isVideo());
        ++frameNumber;
        nextFrameDue += framePeriod;
    }

    // One packet of the PES being sent, with a PCR when one is due.
    void Emit(uint8_t* p, int64_t now, uint64_t index, uint64_t bitrate) {
        const Packet& current = pes.front();
        const bool start = offset == 0;
        const bool pcr = carriesPcr && (start || now - lastPcr >= kPcrInterval);
        const bool randomAccess = start && pesIsKey.front();
        const size_t remaining = current.size() - offset;
        const size_t minimumField = pcr ? 8 : (randomAccess ? 2 : 0);
        const size_t payload = std::min(remaining, static_cast<size_t>(kPayloadSize) - minimumField);
        const size_t field = kPayloadSize - payload;  // adaptation field incl. its length byte

        WriteHeader(p, es.pid, start, field > 0 ? 3 : 1, counter);
        if (field > 0) {
            p[4] = static_cast<uint8_t>(field - 1);
            if (field > 1) {
                p[5] = static_cast<uint8_t>((randomAccess ? 0x40 : 0x00) | (pcr ? 0x10 : 0x00));
                std::fill(p + 6, p + 4 + field, 0xFF);  // stuffing
                if (pcr) {
                    WritePcr(p + 6, PacketPcr(index, bitrate));
                    lastPcr = now;
                }
            }
        }
        std::copy(current.begin() + static_cast<long>(offset), current.begin() + static_cast<long>(offset + payload),
                  p + 4 + field);
        counter = static_cast<uint8_t>((counter + 1) & 0x0F);
        offset += payload;
        if (offset == current.size()) {
            pes.pop_front();
            pesIsKey.pop_front();
            offset = 0;
        }
    }
};

// The caption PES packets of a service: management data (group A, one
// language, "jpn") at the start and every second, and a statement for each
// caption of the scenario (clear screen, then its text), each due at its
// time with a PTS that lies the decoding delay ahead, as the other streams'.
void ScheduleCaptions(const Scenario& sc, uint16_t serviceId, EsSource& src) {
    std::vector<std::pair<int64_t, Packet>> all;
    const auto pes = [](int64_t due, const build::Bytes& dataGroup) {
        const uint64_t pts = static_cast<uint64_t>((kPcrOrigin + due + kPtsDelay) / 300) & 0x1FFFFFFFFull;
        return std::make_pair(due, PesPacket(0xBD, pts, build::CaptionPesPayload(dataGroup), true));
    };
    const build::Bytes management = build::DataGroup(0x00, 0, build::ManagementData({"jpn"}));
    for (int64_t ms = 0; ms < sc.durationMs; ms += 1000) all.push_back(pes(ms * kTicksPerMs, management));
    for (const Caption& c : sc.captions) {
        if (c.serviceId != serviceId) continue;
        // CS, then the code sets of event texts (Kanji, alphanumerics,
        // hiragana, katakana in G0-G3, LS0, LS2R), in which the text is
        // coded: captions start with others (the macro set, or DRCS-1 and
        // Kanji in profile C).
        build::Bytes text = {0x0C, 0x1B, 0x24, 0x42, 0x1B, 0x29, 0x4A, 0x1B, 0x2A, 0x30, 0x1B, 0x2B, 0x31, 0x0F, 0x1B, 0x7D};
        const build::Bytes arib = AribBytes(c.text);
        text.insert(text.end(), arib.begin(), arib.end());
        // Just after the management data of the same moment.
        all.push_back(pes(c.atMs * kTicksPerMs + 1,
                          build::DataGroup(0x01, 0, build::StatementData({build::StatementBody(text)}))));
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const std::pair<int64_t, Packet>& a, const std::pair<int64_t, Packet>& b) {
                         return a.first < b.first;
                     });
    for (auto& p : all) src.scheduled.push_back(std::move(p));
}

// A PCR PID of its own: adaptation-field-only packets, whose continuity
// counter does not advance.
struct PcrSource {
    uint16_t pid;
    int64_t nextDue;

    void Emit(uint8_t* p, uint64_t index, uint64_t bitrate) {
        WriteHeader(p, pid, false, 2, 0);
        p[4] = 183;
        p[5] = 0x10;
        WritePcr(p + 6, PacketPcr(index, bitrate));
        std::fill(p + 12, p + 188, 0xFF);
        nextDue += kPcrInterval;
    }
};

}  // namespace

uint64_t PacketCount(const Scenario& sc) {
    return (static_cast<uint64_t>(sc.durationMs) * sc.bitrate / 1000 + kPacketBits / 2) / kPacketBits;
}

bool GenerateStream(const Scenario& sc, const PacketWriter& writeAll) {
    const PacketWriter write = sc.partialReceptionOnly ? PartialReceptionWriter(sc, writeAll) : writeAll;
    std::vector<PsiJob> jobs = ServiceInformationJobs(sc);
    build::StreamBuilder sections;
    std::deque<Packet> psiQueue;

    std::vector<std::unique_ptr<EsSource>> sources;
    std::vector<PcrSource> pcrSources;
    for (const Service& service : sc.services) {
        if (IsOtherTransportStream(sc, service)) continue;  // carried elsewhere
        bool pcrInStream = false;
        for (const ElementaryStream& es : service.streams) {
            std::unique_ptr<EsSource> src(new EsSource);
            src->es = es;
            src->carriesPcr = es.pid == service.pcrPid;
            pcrInStream = pcrInStream || src->carriesPcr;
            switch (es.codec) {
                case Codec::kMpeg2Video:  // 29.97 Hz, a GOP of 15
                    src->streamId = 0xE0;
                    src->framePeriod = kClock * 1001 / 30000;
                    src->framesPerKey = 15;
                    break;
                case Codec::kH264:  // 15 Hz, a key frame every second
                    src->streamId = 0xE0;
                    src->framePeriod = kClock / 15;
                    src->framesPerKey = 15;
                    break;
                case Codec::kAac:  // 1024 samples at 48 kHz
                    src->streamId = 0xC0;
                    src->framePeriod = kClock * 1024 / 48000;
                    break;
                case Codec::kCaption:  // PES packets at their own times
                    src->streamId = 0xBD;
                    src->framePeriod = kClock;
                    src->nextFrameDue = INT64_MAX / 2;
                    ScheduleCaptions(sc, service.id, *src);
                    break;
            }
            src->frameBytes = static_cast<uint32_t>(static_cast<int64_t>(es.kbps) * 1000 / 8 * src->framePeriod / kClock);
            // 5% above the payload rate, so that PES headers and adaptation
            // fields never let the queue grow.
            src->packetInterval = kPayloadSize * 8 * kClock * 100 / (static_cast<int64_t>(es.kbps) * 1000 * 105);
            sources.push_back(std::move(src));
        }
        if (!pcrInStream) pcrSources.push_back({service.pcrPid, 0});
    }

    const uint64_t count = PacketCount(sc);
    uint8_t p[188];
    for (uint64_t i = 0; i < count; ++i) {
        const int64_t now = PacketTime(i, sc.bitrate);
        for (PsiJob& job : jobs) {
            while (job.nextDue <= now) {
                for (build::Bytes& packet : sections.Packets(job.pid, job.build(job.nextDue))) {
                    psiQueue.push_back(std::move(packet));
                }
                job.nextDue += job.interval;
            }
        }
        for (auto& src : sources) {
            while (src->nextFrameDue <= now) src->AddFrame();
            while (!src->scheduled.empty() && src->scheduled.front().first <= now) {
                src->pes.push_back(std::move(src->scheduled.front().second));
                src->pesIsKey.push_back(false);
                src->scheduled.pop_front();
            }
        }

        PcrSource* pcrDue = nullptr;
        for (PcrSource& pcr : pcrSources) {
            if (pcr.nextDue <= now && (pcrDue == nullptr || pcr.nextDue < pcrDue->nextDue)) pcrDue = &pcr;
        }
        EsSource* esDue = nullptr;
        for (auto& src : sources) {
            if (!src->pes.empty() && src->nextPacketDue <= now &&
                (esDue == nullptr || src->nextPacketDue < esDue->nextPacketDue)) {
                esDue = src.get();
            }
        }

        if (!psiQueue.empty()) {
            std::copy(psiQueue.front().begin(), psiQueue.front().end(), p);
            psiQueue.pop_front();
        } else if (pcrDue != nullptr) {
            pcrDue->Emit(p, i, sc.bitrate);
        } else if (esDue != nullptr) {
            esDue->Emit(p, now, i, sc.bitrate);
            // An idle stream does not save up packets for a burst.
            esDue->nextPacketDue = std::max(esDue->nextPacketDue + esDue->packetInterval, now - esDue->packetInterval);
        } else {
            WriteHeader(p, kNullPid, false, 1, 0);
            std::fill(p + 4, p + 188, 0xFF);
        }
        if (!write(p)) return false;
    }
    return true;
}

}  // namespace gen
