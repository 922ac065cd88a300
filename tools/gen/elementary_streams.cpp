#include "tools/gen/elementary_streams.h"

#include <algorithm>
#include <cstddef>

namespace gen {

namespace {

// Most significant bit first, as every syntax here is written.
class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) PutBit((value >> i) & 1);
    }
    void PutBit(uint32_t bit) {
        if (used_ == 0) bytes_.push_back(0);
        if (bit) bytes_.back() |= static_cast<uint8_t>(0x80 >> used_);
        used_ = (used_ + 1) & 7;
    }
    // Exp-Golomb codes of H.264.
    void PutUe(uint32_t value) {
        const uint32_t v = value + 1;
        int bits = 0;
        while ((v >> bits) > 1) ++bits;
        Put(0, bits);
        Put(v, bits + 1);
    }
    void PutSe(int32_t value) { PutUe(value <= 0 ? static_cast<uint32_t>(-2 * value) : static_cast<uint32_t>(2 * value - 1)); }
    // rbsp_trailing_bits: a one, then zeros to the byte boundary.
    void PutTrailingBits() {
        PutBit(1);
        AlignWithZeros();
    }
    void AlignWithZeros() {
        while (used_ != 0) PutBit(0);
    }
    size_t bitCount() const { return bytes_.size() * 8 - (used_ == 0 ? 0 : 8 - used_); }
    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
    int used_ = 0;
};

void Append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

// A NAL unit with its start code; emulation prevention bytes go in wherever
// two zero bytes would be followed by a byte below 4.
void AppendNal(Bytes& out, uint8_t header, const Bytes& rbsp, bool longStartCode) {
    if (longStartCode) out.push_back(0x00);
    out.push_back(0x00);
    out.push_back(0x00);
    out.push_back(0x01);
    out.push_back(header);
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 0x03) {
            out.push_back(0x03);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
}

Bytes H264Sps() {
    BitWriter w;
    w.Put(66, 8);    // profile_idc: Baseline
    w.Put(0xC0, 8);  // constraint_set0/1 (constrained baseline), reserved
    w.Put(12, 8);    // level_idc 1.2, as one-segment broadcasts use
    w.PutUe(0);      // seq_parameter_set_id
    w.PutUe(0);      // log2_max_frame_num_minus4
    w.PutUe(2);      // pic_order_cnt_type
    w.PutUe(1);      // max_num_ref_frames
    w.PutBit(0);     // gaps_in_frame_num_value_allowed_flag
    w.PutUe(19);     // pic_width_in_mbs_minus1: 320
    w.PutUe(14);     // pic_height_in_map_units_minus1: 240
    w.PutBit(1);     // frame_mbs_only_flag
    w.PutBit(1);     // direct_8x8_inference_flag
    w.PutBit(0);     // frame_cropping_flag
    w.PutBit(0);     // vui_parameters_present_flag
    w.PutTrailingBits();
    return w.bytes();
}

Bytes H264Pps() {
    BitWriter w;
    w.PutUe(0);   // pic_parameter_set_id
    w.PutUe(0);   // seq_parameter_set_id
    w.PutBit(0);  // entropy_coding_mode_flag: CAVLC
    w.PutBit(0);  // bottom_field_pic_order_in_frame_present_flag
    w.PutUe(0);   // num_slice_groups_minus1
    w.PutUe(0);   // num_ref_idx_l0_default_active_minus1
    w.PutUe(0);   // num_ref_idx_l1_default_active_minus1
    w.PutBit(0);  // weighted_pred_flag
    w.Put(0, 2);  // weighted_bipred_idc
    w.PutSe(0);   // pic_init_qp_minus26
    w.PutSe(0);   // pic_init_qs_minus26
    w.PutSe(0);   // chroma_qp_index_offset
    w.PutBit(1);  // deblocking_filter_control_present_flag
    w.PutBit(0);  // constrained_intra_pred_flag
    w.PutBit(0);  // redundant_pic_cnt_present_flag
    w.PutTrailingBits();
    return w.bytes();
}

// Macroblocks of a 320x240 picture.
const uint32_t kH264Macroblocks = 20 * 15;

// An IDR picture, every macroblock Intra 16x16 with DC prediction and no
// residual: a flat grey picture in about a byte per macroblock.
Bytes H264IdrSlice(uint32_t idrPicId) {
    BitWriter w;
    w.PutUe(0);         // first_mb_in_slice
    w.PutUe(7);         // slice_type: I, all slices
    w.PutUe(0);         // pic_parameter_set_id
    w.Put(0, 4);        // frame_num
    w.PutUe(idrPicId);  // idr_pic_id
    w.PutBit(0);        // no_output_of_prior_pics_flag
    w.PutBit(0);        // long_term_reference_flag
    w.PutSe(0);         // slice_qp_delta
    w.PutUe(1);         // disable_deblocking_filter_idc
    for (uint32_t i = 0; i < kH264Macroblocks; ++i) {
        w.PutUe(3);   // mb_type I_16x16_2_0_0: DC prediction, no coded block
        w.PutUe(0);   // intra_chroma_pred_mode: DC
        w.PutSe(0);   // mb_qp_delta
        w.PutBit(1);  // Intra16x16DCLevel coeff_token: no coefficients (nC 0)
    }
    w.PutTrailingBits();
    return w.bytes();
}

// A P picture whose macroblocks are all skipped: the previous picture again.
Bytes H264SkippedSlice(uint32_t frameNum) {
    BitWriter w;
    w.PutUe(0);               // first_mb_in_slice
    w.PutUe(5);               // slice_type: P, all slices
    w.PutUe(0);               // pic_parameter_set_id
    w.Put(frameNum & 15, 4);  // frame_num
    w.PutBit(0);              // num_ref_idx_active_override_flag
    w.PutBit(0);              // ref_pic_list_modification_flag_l0
    w.PutBit(0);              // adaptive_ref_pic_marking_mode_flag
    w.PutSe(0);               // slice_qp_delta
    w.PutUe(1);               // disable_deblocking_filter_idc
    w.PutUe(kH264Macroblocks);  // mb_skip_run
    w.PutTrailingBits();
    return w.bytes();
}

void AppendStartCode(Bytes& out, uint8_t code) {
    out.push_back(0x00);
    out.push_back(0x00);
    out.push_back(0x01);
    out.push_back(code);
}

}  // namespace

Bytes PesPacket(uint8_t streamId, uint64_t pts, const Bytes& payload, bool bounded) {
    const size_t kHeaderSize = 14;
    size_t length = kHeaderSize - 6 + payload.size();  // PES_packet_length counts from byte 6
    if (!bounded || length > 0xFFFF) length = 0;
    const uint8_t header[kHeaderSize] = {
        0x00, 0x00, 0x01, streamId, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length),
        0x84,  // '10', data_alignment_indicator
        0x80,  // PTS only
        0x05,  // PES_header_data_length
        static_cast<uint8_t>(0x21 | ((pts >> 29) & 0x0E)), static_cast<uint8_t>(pts >> 22),
        static_cast<uint8_t>(((pts >> 14) & 0xFE) | 1), static_cast<uint8_t>(pts >> 7),
        static_cast<uint8_t>(((pts << 1) & 0xFE) | 1)};
    Bytes pes(kHeaderSize + payload.size());
    std::copy(header, header + kHeaderSize, pes.begin());
    std::copy(payload.begin(), payload.end(), pes.begin() + kHeaderSize);
    return pes;
}

uint32_t Mpeg2IntraPictureBytes(uint32_t width, uint32_t height) {
    // Per macroblock 30 bits (see Mpeg2VideoFrame), per slice 4 + 1 bytes.
    const uint32_t columns = (width + 15) / 16;
    const uint32_t rows = (height + 15) / 16;
    return rows * (5 + (columns * 30 + 7) / 8) + 128;  // and the headers
}

Bytes Mpeg2VideoFrame(uint32_t frameNumber, bool sequenceStart, const Mpeg2Picture& picture, uint32_t bitrate,
                      uint32_t size) {
    Bytes out;
    if (sequenceStart) {
        AppendStartCode(out, 0xB3);  // sequence_header
        BitWriter s;
        s.Put(picture.width, 12);
        s.Put(picture.height, 12);
        s.Put(3, 4);  // aspect_ratio_information 16:9
        s.Put(4, 4);  // frame_rate_code 29.97
        s.Put((bitrate + 399) / 400 & 0x3FFFF, 18);
        s.PutBit(1);     // marker
        s.Put(597, 10);  // vbv_buffer_size_value
        s.Put(0, 3);     // constrained, no quantiser matrices
        Append(out, s.bytes());

        AppendStartCode(out, 0xB5);  // sequence_extension
        BitWriter e;
        e.Put(1, 4);
        e.Put(picture.width > 720 ? 0x44 : 0x48, 8);  // Main profile, High or Main level
        e.PutBit(0);     // progressive_sequence
        e.Put(1, 2);     // chroma_format 4:2:0
        e.Put(0, 4);     // size extensions
        e.Put(0, 12);    // bit_rate_extension
        e.PutBit(1);     // marker
        e.Put(0, 8);     // vbv_buffer_size_extension
        e.PutBit(0);     // low_delay
        e.Put(0, 7);     // frame_rate_extension_n, _d
        Append(out, e.bytes());

        AppendStartCode(out, 0xB8);  // group_of_pictures_header
        BitWriter g;
        const uint32_t seconds = frameNumber / 30;
        g.PutBit(1);  // drop_frame_flag
        g.Put(seconds / 3600 % 24, 5);
        g.Put(seconds / 60 % 60, 6);
        g.PutBit(1);
        g.Put(seconds % 60, 6);
        g.Put(frameNumber % 30, 6);
        g.PutBit(1);  // closed_gop
        g.PutBit(0);  // broken_link
        g.AlignWithZeros();
        Append(out, g.bytes());
    }
    AppendStartCode(out, 0x00);  // picture_header
    BitWriter p;
    p.Put(frameNumber % 1024, 10);  // temporal_reference
    p.Put(1, 3);                    // I picture
    p.Put(0xFFFF, 16);              // vbv_delay
    p.PutBit(0);                    // extra_bit_picture
    p.AlignWithZeros();
    Append(out, p.bytes());

    AppendStartCode(out, 0xB5);  // picture_coding_extension
    BitWriter c;
    c.Put(8, 4);
    c.Put(0xFFFF, 16);  // f_codes: none in an I picture
    c.Put(0, 2);        // intra_dc_precision: 8 bits
    c.Put(3, 2);        // frame picture
    c.PutBit(1);        // top_field_first
    c.PutBit(1);        // frame_pred_frame_dct
    c.Put(0, 6);        // concealment, q_scale_type, intra_vlc_format 0, alternate_scan, repeat_first_field
    c.PutBit(1);        // chroma_420_type
    c.PutBit(0);        // progressive_frame
    c.PutBit(0);        // composite_display_flag
    c.AlignWithZeros();
    Append(out, c.bytes());

    // One slice per macroblock row; every macroblock intra with only a zero
    // DC difference in each block: a flat grey picture.
    const uint32_t columns = (picture.width + 15) / 16;
    const uint32_t rows = (picture.height + 15) / 16;
    for (uint32_t row = 0; row < rows; ++row) {
        AppendStartCode(out, static_cast<uint8_t>(row + 1));  // slice_vertical_position
        BitWriter m;
        m.Put(8, 5);   // quantiser_scale_code
        m.PutBit(0);   // extra_bit_slice
        for (uint32_t column = 0; column < columns; ++column) {
            m.PutBit(1);  // macroblock_address_increment 1
            m.PutBit(1);  // macroblock_type: intra
            for (int block = 0; block < 4; ++block) {
                m.Put(0x4, 3);  // dct_dc_size_luminance 0
                m.Put(0x2, 2);  // end of block
            }
            for (int block = 0; block < 2; ++block) {
                m.Put(0x0, 2);  // dct_dc_size_chrominance 0
                m.Put(0x2, 2);  // end of block
            }
        }
        m.AlignWithZeros();
        Append(out, m.bytes());
    }

    // Zero stuffing up to the frame's size: allowed before any start code.
    if (out.size() < size) out.resize(size, 0x00);
    return out;
}

Bytes H264AccessUnit(uint32_t framesSinceKey, uint32_t keyCount, uint32_t size) {
    const bool keyFrame = framesSinceKey == 0;
    Bytes out;
    AppendNal(out, 0x09, Bytes{static_cast<uint8_t>(keyFrame ? 0x10 : 0x30)}, true);  // access unit delimiter
    if (keyFrame) {
        AppendNal(out, 0x67, H264Sps(), true);
        AppendNal(out, 0x68, H264Pps(), true);
        AppendNal(out, 0x65, H264IdrSlice(keyCount & 1), true);
    } else {
        AppendNal(out, 0x41, H264SkippedSlice(framesSinceKey), true);
    }
    // Filler data NAL unit: 0xFF bytes, then the stop bit.
    const size_t overhead = out.size() + 4 + 1;
    const size_t fill = size > overhead ? size - overhead : 0;
    Bytes filler(fill, 0xFF);
    filler.push_back(0x80);
    AppendNal(out, 0x0C, filler, false);
    return out;
}

Bytes AacFrame(uint32_t size) {
    const uint32_t kMinimum = 13;
    const uint32_t kMaximum = 0x1FFF;
    if (size < kMinimum) size = kMinimum;
    if (size > kMaximum) size = kMaximum;

    BitWriter raw;
    // A channel pair with a common window and no scale factor bands: silence.
    raw.Put(1, 3);  // ID_CPE
    raw.Put(0, 4);  // element_instance_tag
    raw.PutBit(1);  // common_window
    raw.Put(0, 11); // ics_info: long window, max_sfb 0, no prediction
    raw.Put(0, 2);  // ms_mask_present
    for (int channel = 0; channel < 2; ++channel) {
        raw.Put(100, 8);  // global_gain
        raw.Put(0, 3);    // no pulse, TNS or gain control data
    }
    // Fill elements up to the frame's size; each carries cnt bytes of
    // EXT_FILL payload (cnt up to 15 + 255 - 1).
    const uint32_t header = 7;
    const size_t endBits = 3;
    for (;;) {
        const size_t usedBytes = (raw.bitCount() + endBits + 7) / 8;
        if (header + usedBytes >= size) break;
        const size_t room = size - header - usedBytes;  // whole bytes still free
        // A fill element costs 7 bits (+8 with an escape) plus cnt bytes.
        if (room < 2) break;
        uint32_t cnt = static_cast<uint32_t>(room - 1);
        if (cnt >= 15) cnt = static_cast<uint32_t>(room - 2);
        if (cnt > 269) cnt = 269;
        raw.Put(6, 3);  // ID_FIL
        if (cnt >= 15) {
            raw.Put(15, 4);
            raw.Put(cnt - 14, 8);
        } else {
            raw.Put(cnt, 4);
        }
        for (uint32_t i = 0; i < cnt; ++i) raw.Put(0, 8);  // extension_type EXT_FILL, fill
    }
    raw.Put(7, 3);  // ID_END
    raw.AlignWithZeros();

    const uint32_t frameLength = header + static_cast<uint32_t>(raw.bytes().size());
    BitWriter adts;
    adts.Put(0xFFF, 12);  // syncword
    adts.PutBit(1);       // ID: MPEG-2 AAC
    adts.Put(0, 2);       // layer
    adts.PutBit(1);       // protection_absent
    adts.Put(1, 2);       // profile: LC
    adts.Put(3, 4);       // sampling_frequency_index: 48 kHz
    adts.PutBit(0);       // private_bit
    adts.Put(2, 3);       // channel_configuration: stereo
    adts.Put(0, 4);       // original, home, copyright bits
    adts.Put(frameLength, 13);
    adts.Put(0x7FF, 11);  // adts_buffer_fullness: variable rate
    adts.Put(0, 2);       // one raw data block
    Bytes out = adts.bytes();
    Append(out, raw.bytes());
    return out;
}

}  // namespace gen
