// Builds MPEG audio frames and the headers encoders put into them, from named fields.
//
// Frame lengths are given by the tests, not computed here, so a test states the length it
// expects the analyser to find.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cantorell::test {

// The four header bytes, after the sync bits, field by field in the byte they share. Codes
// as in the stream: version 0 MPEG 2.5, 2 MPEG 2, 3 MPEG 1; layer 1 III, 2 II, 3 I; mode 0
// stereo, 1 joint stereo, 2 dual channel, 3 mono. The defaults: MPEG 1 Layer III at
// 128 kbit/s and 44.1 kHz, joint stereo, original.
struct TMpegHeader {
    uint8_t Version = 3, Layer = 1; // byte 1
    bool Crc = false;
    uint8_t BitRateIndex = 9, SampleRateIndex = 0; // byte 2
    bool Padded = false;
    uint8_t Mode = 1, ModeExtension = 0; // byte 3
    bool Copyright = false, Original = true;
    uint8_t Emphasis = 0;

    std::string Build() const;
};

// A frame of `length` bytes: the header, then filler that holds no sync byte (0xFF).
std::string MpegFrame(const TMpegHeader& header, size_t length);
// `count` frames of `length` bytes one after the other.
std::string MpegFrames(const TMpegHeader& header, size_t length, int count);
// Overwrites bytes of `target` from `offset` on with `bytes`.
void PutAt(std::string& target, size_t offset, const std::string& bytes);

// A Xing header ("Xing" in variable-rate streams, "Info" in LAME's constant-rate ones):
// signature, flags, then the fields the flags announce, then the encoder's version text.
struct TXingHeader {
    std::string Signature = "Xing";
    uint32_t Flags = 0x0F; // frames, bytes, table of contents, quality
    uint32_t Frames = 0;
    uint32_t Bytes = 0;
    uint32_t Quality = 57;
    std::string Encoder = "LAME3.97";

    std::string Build() const;
};

// A VBRI header as the Fraunhofer encoder writes it (no seek table).
struct TVbriHeader {
    uint16_t Version = 1;
    uint16_t Delay = 0x0480;
    uint16_t Quality = 75;
    uint32_t Bytes = 0;
    uint32_t Frames = 0;

    std::string Build() const;
};

// The first frame of a variable-rate stream: the side information left zero and `vbr`
// written `offset` bytes from the frame's start.
std::string VbrFrame(const TMpegHeader& header, size_t length, size_t offset,
                     const std::string& vbr);

// A minimal ID3v2.3 tag of exactly `totalSize` bytes (header, one text frame, padding).
std::string Id3v2Tag(size_t totalSize);

} // namespace cantorell::test
