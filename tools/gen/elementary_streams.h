// Elementary-stream payloads of the sample stream and their PES packets.
//
// The pictures are flat grey and the sound is silence, but every access unit
// is real, decodable syntax: MPEG-2 video I pictures (sequence and GOP
// headers every 15 pictures); H.264 access unit delimiters, SPS and PPS, IDR
// and skipped P pictures, then filler data NAL units; AAC frames in ADTS with
// a silent channel pair and fill elements. Each access unit is padded to the
// size its bitrate gives.
#ifndef KESTRIN_TOOLS_GEN_ELEMENTARY_STREAMS_H
#define KESTRIN_TOOLS_GEN_ELEMENTARY_STREAMS_H

#include <cstdint>
#include <vector>

namespace gen {

typedef std::vector<uint8_t> Bytes;

// A PES packet with a PTS. `bounded`: PES_packet_length is set (audio);
// otherwise it is 0, as video in a transport stream may have it.
Bytes PesPacket(uint8_t streamId, uint64_t pts, const Bytes& payload, bool bounded);

struct Mpeg2Picture {
    uint32_t width;
    uint32_t height;
};

// One MPEG-2 video frame (16:9, 29.97 Hz), an I picture of flat grey, of at
// least `size` bytes; `sequenceStart` puts a sequence header and a closed
// GOP before it.
Bytes Mpeg2VideoFrame(uint32_t frameNumber, bool sequenceStart, const Mpeg2Picture& picture, uint32_t bitrate,
                      uint32_t size);
// The size of such a frame without stuffing, at most.
uint32_t Mpeg2IntraPictureBytes(uint32_t width, uint32_t height);

// One H.264 access unit (Baseline, 320x240) of about `size` bytes: at a key
// frame (framesSinceKey 0) the SPS, PPS and a grey IDR picture, otherwise a
// P picture of skipped macroblocks. Frames since the key frame stay below 16.
Bytes H264AccessUnit(uint32_t framesSinceKey, uint32_t keyCount, uint32_t size);

// One AAC-LC ADTS frame (48 kHz, stereo, silent) of `size` bytes, at least
// the smallest frame (13 bytes) and at most the ADTS limit.
Bytes AacFrame(uint32_t size);

}  // namespace gen

#endif
