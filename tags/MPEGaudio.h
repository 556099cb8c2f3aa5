// A summary of the MPEG audio stream of a file: version, layer, channel mode, bit rate
// (constant or variable) and sample rate, taken from the first audio frame.
//
// An MPEG audio frame starts with a four-byte header (bits from the most significant):
//
//   byte 0  1111 1111                 sync
//   byte 1  111v vllc                 sync, version (0 MPEG 2.5, 2 MPEG 2, 3 MPEG 1),
//                                     layer (1 III, 2 II, 3 I), c = 0 when CRC protected
//   byte 2  bbbb sspx                 bit-rate index, sample-rate index, padding, private
//   byte 3  mmee copp                 channel mode, mode extension, copyright, original,
//                                     emphasis
//
// The frame that follows lies exactly one frame length further on, so a candidate header
// is only believed when another header is found there: random FF Ex bytes in a tag or in
// the audio data rarely pass that test.
//
// Encoders that write variable-bit-rate streams put a "Xing" header (LAME, and others) or
// a "VBRI" header (Fraunhofer) into the side-information space of the first frame; it holds
// the number of frames and bytes of the stream, from which the average bit rate follows.
// LAME writes the same header as "Info" into constant-rate streams; that one is not taken
// as a sign of a variable rate. A frame with such a header holds no audio: the channel mode
// (and, after "Info", the bit rate) is taken from the frame that follows it.
//
// The analysis opens the file once and reads at most three blocks of 3458 bytes of audio:
// the start of the audio, if no frame is found there the middle of the audio, and, for
// streams without a VBR header, the end of the audio, where an encoder tag ("LAME3.97",
// "GOGO") is looked for; that last read also takes the ID3v1 record behind it. The file's
// first block tells where an ID3v2 tag ends, and without a tag it is the start of the audio.
// The decoding and the searches are pure functions over such blocks, so they can be tested
// and fuzzed on bytes.
#pragma once

#include "platform/FileSystem.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace cantorell {

inline constexpr int SearchBlockSize = 3458;
// A frame is searched for at the first 1730 positions of a block (0 to 1729), which leaves
// room behind the last candidate for a long frame (MPEG 1 Layer II at 384 kbit/s and
// 32 kHz takes 1728 or 1729 bytes) and most of the header that follows it.
inline constexpr int FrameSearchPositions = SearchBlockSize - 1728;
// The end of the block that FindEncoderTag never searches past (a tag takes 8 bytes).
inline constexpr int EncoderTagSearchLimit = SearchBlockSize - 8;
inline constexpr int ID3v1RecordSize = 128;

using TSearchBlock = std::array<uint8_t, SearchBlockSize>;

// MPEG versions, layers and channel modes as coded in the header.
enum : uint8_t { mvMpeg25 = 0, mvReserved = 1, mvMpeg2 = 2, mvMpeg1 = 3 };
enum : uint8_t { mlReserved = 0, mlLayer3 = 1, mlLayer2 = 2, mlLayer1 = 3 };
enum : uint8_t { mmStereo = 0, mmJointStereo = 1, mmDualChannel = 2, mmMono = 3, mmUnknown = 4 };

// The decoded first frame of the stream.
struct FrameHeaderInfo {
    bool Found = false;
    // Offset of the frame's first byte within the block it was found in.
    int32_t Position = 0;
    // FrameLength of the frame.
    uint16_t Size = 0;
    // The six bytes after the header are all zero (as in a frame that carries a VBR header).
    bool ZeroSideInfo = false;
    std::array<uint8_t, 4> HeaderBytes{};
    uint8_t VersionCode = 0;
    uint8_t LayerCode = 0;
    bool CRCProtected = false;
    uint16_t BitRateIndex = 0;
    uint16_t SampleRateIndex = 0;
    bool Padded = false;
    bool PrivateBit = false;
    uint8_t ModeCode = 0;
    uint8_t ModeExtension = 0;
    bool RightsFlag = false;
    bool OrigFlag = false;
    uint8_t EmphasisCode = 0;
};

// The variable-bit-rate header found in the first frame.
//
// Xing header, from its first byte (the fields marked by a flag are present only when the
// flag is set, each following the previous one):
//   0  "Xing"   4  flags (big-endian 32; 1 frames, 2 bytes, 4 table of contents, 8 quality)
//   8  frames   12 bytes   16 table of contents (100 bytes)   116 quality (big-endian 32)
//   120 encoder version ("LAME3.97"), the start of LAME's own tag
// VBRI header: 0 "VBRI", 4 version, 6 delay, 8 quality (big-endian 16), 10 bytes, 14 frames.
struct VBRData {
    bool Found = false;
    std::array<char, 4> Signature{};
    int32_t FrameCount = 0;
    int32_t ByteCount = 0;
    uint8_t Quality = 0;
    // Xing only: the eight bytes after the header, zero bytes included.
    std::string EncoderText;
};

// Pure functions of the analysis.

// The four bytes form a header this analyser can decode (no reserved codes, no free-format
// or invalid bit rate, no reserved emphasis).
bool IsFrameHeader(const uint8_t* bytes);
// Fills HeaderBytes and the code and flag fields; leaves Found, Position, Size and
// ZeroSideInfo as they are.
void DecodeFrameHeader(const uint8_t* bytes, FrameHeaderInfo& frame);
// kbit/s; 0 for index 0 (free format), index 15 and reserved versions or layers.
uint16_t TableBitRate(uint8_t versionCode, uint8_t layerCode, uint16_t bitRateIndex);
uint16_t TableBitRate(const FrameHeaderInfo& frame);
// Hz; 0 for the reserved version and index 3.
uint16_t TableSampleRate(uint8_t versionCode, uint16_t sampleRateIndex);
uint16_t TableSampleRate(const FrameHeaderInfo& frame);
// Bytes per frame for one bit per second per sample per second: an eighth of the samples
// in a frame, counted in slot units.
uint16_t SlotFactor(const FrameHeaderInfo& frame);
// The padding slot of a padded frame in bytes (4 in Layer I, else 1).
uint16_t PaddingLength(const FrameHeaderInfo& frame);
// The whole frame, header included, in bytes; 0 when the rates are not known.
uint16_t FrameLength(const FrameHeaderInfo& frame);
// Where a Xing or VBRI header starts, counted from the frame's first byte: behind the
// header and the side information, whose size depends on version and channel count.
int VBRHeaderOffset(const FrameHeaderInfo& frame);

// Searches the first FrameSearchPositions positions of `block` for a header that is
// followed one frame length later by another header. A Xing header is looked for behind
// the side information (VBRHeaderOffset), a VBRI header 36 bytes into the frame; when the
// frame holds one of them or an Info header, its mode (and after Info its bit rate) are
// those of the following frame. Only the first `length` bytes of the
// block are data (a short read leaves the rest cleared); a candidate whose following header
// would lie beyond them is not confirmed. `vbr` is written only when a frame is confirmed.
void FindFirstFrame(const TSearchBlock& block, size_t length, FrameHeaderInfo& frame, VBRData& vbr);
// Reads a Xing or VBRI header starting at `offset` of the block.
VBRData ReadVBRHeader(const TSearchBlock& block, size_t offset);
// Looks backwards from the end of the block, over searchLength + 1 positions (at most
// EncoderTagSearchLimit), for "LAME" with its four version characters or "GOGO".
std::string FindEncoderTag(const TSearchBlock& block, uint16_t searchLength);

// The file ends with an ID3v1 record ("TAG" 128 bytes before its end).
bool HasID3v1Tag(TFileSystem& fs, const std::string& fileName);
bool HasID3v1Tag(const std::string& fileName);

class TMPEGaudio {
public:
    // Uses `fs` for every file operation (tests pass one that fails on purpose).
    explicit TMPEGaudio(TFileSystem& fs = TFileSystem::Default()) : Fs(fs) { ResetFields(); }

    void ResetFields();
    // True when the file was opened and every read succeeded, whether or not a frame was
    // found. Without a confirmed frame every field is in the reset state.
    bool ReadFromFile(const std::string& fileName);

    // Size of the file in bytes; 0 when no frame was found.
    int64_t FileLength() const { return FFileLength; }
    // "LAME" with four version characters, or "GOGO", from the end of a stream without a
    // VBR header; empty otherwise.
    const std::string& EncoderTag() const { return FEncoderTag; }
    const VBRData& VBR() const { return FVBR; }
    const FrameHeaderInfo& FrameHeader() const { return FFrame; }
    // Where the audio begins: the size of the leading ID3v2 tag.
    int64_t ID3v2Size() const { return FID3v2Size; }

    // "MPEG 1", "MPEG 2", "MPEG 2.5", or "MPEG ?".
    std::string Version() const;
    // "Layer I", "Layer II", "Layer III", or "Layer ?".
    std::string Layer() const;
    // "Stereo", "Joint Stereo", "Dual Channel", "Mono", or "Unknown".
    std::string ChannelMode() const;
    bool IsVBR() const { return FVBR.Found; }
    // kbit/s: the average from the VBR header's counts when it has them, else the first
    // frame's rate.
    uint16_t BitRate() const;
    // Hz.
    uint16_t SampleRate() const { return TableSampleRate(FFrame); }

private:
    TFileSystem& Fs;
    int64_t FFileLength = 0;
    std::string FEncoderTag;
    VBRData FVBR;
    FrameHeaderInfo FFrame;
    int64_t FID3v2Size = 0;

    bool Analyse(const std::string& fileName);
};

} // namespace cantorell
