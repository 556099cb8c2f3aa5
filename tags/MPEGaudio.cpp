#include "MPEGaudio.h"

#include "ID3v2Header.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace cantorell {

namespace {

// kbit/s by version, layer and bit-rate index. MPEG 1 uses the tables of ISO/IEC 11172-3;
// MPEG 2 and 2.5 the low-sampling-frequency tables of ISO/IEC 13818-3, one row for
// Layer I and one shared by Layers II and III. Index 0 is free format, 15 is invalid.
constexpr uint16_t BitRates[4][4][16] = {
    // MPEG 2.5
    {{},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0}},
    // reserved
    {},
    // MPEG 2
    {{},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0}},
    // MPEG 1
    {{},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0}},
};

constexpr uint16_t SampleRates[4][4] = {
    {11025, 12000, 8000, 0}, // MPEG 2.5
    {0, 0, 0, 0},            // reserved
    {22050, 24000, 16000, 0},
    {44100, 48000, 32000, 0},
};

constexpr const char* VersionTexts[] = {"MPEG 2.5", "MPEG ?", "MPEG 2", "MPEG 1"};
constexpr const char* LayerTexts[] = {"Layer ?", "Layer III", "Layer II", "Layer I"};
constexpr const char* ModeTexts[] = {"Stereo", "Joint Stereo", "Dual Channel", "Mono", "Unknown"};

constexpr uint32_t XingFlagFrames = 0x1;
constexpr uint32_t XingFlagBytes = 0x2;
constexpr uint32_t XingFlagToc = 0x4;
constexpr uint32_t XingFlagQuality = 0x8;
constexpr size_t XingTocSize = 100;
constexpr size_t XingEncoderTextSize = 8;
// The VBRI header's fields, from its first byte.
constexpr size_t VbriQualityAt = 9; // low byte of the big-endian 16-bit quality
constexpr size_t VbriBytesAt = 10;
constexpr size_t VbriFramesAt = 14;
constexpr size_t VbriSize = 18;
// Encoders put a VBRI header 32 bytes behind the frame header in every MPEG version and
// channel mode (not behind the side information, as a Xing header).
constexpr size_t VbriOffset = 36;

constexpr int EncoderTagsPerFrame = 5;

bool SameBytes(const uint8_t* bytes, const char* text, size_t count) {
    return std::memcmp(bytes, text, count) == 0;
}

} // namespace

bool IsFrameHeader(const uint8_t* b) {
    return b[0] == 0xFF && (b[1] & 0xE0) == 0xE0 && ((b[1] >> 3) & 3) != mvReserved &&
           ((b[1] >> 1) & 3) != mlReserved && (b[2] >> 4) != 15 && (b[2] >> 4) != 0 &&
           ((b[2] >> 2) & 3) != 3 && (b[3] & 3) != 2;
}

void DecodeFrameHeader(const uint8_t* b, FrameHeaderInfo& frame) {
    std::copy(b, b + 4, frame.HeaderBytes.begin());
    frame.VersionCode = (b[1] >> 3) & 3;
    frame.LayerCode = (b[1] >> 1) & 3;
    frame.CRCProtected = (b[1] & 1) == 0;
    frame.BitRateIndex = b[2] >> 4;
    frame.SampleRateIndex = (b[2] >> 2) & 3;
    frame.Padded = (b[2] & 2) != 0;
    frame.PrivateBit = (b[2] & 1) != 0;
    frame.ModeCode = b[3] >> 6;
    frame.ModeExtension = (b[3] >> 4) & 3;
    frame.RightsFlag = (b[3] & 8) != 0;
    frame.OrigFlag = (b[3] & 4) != 0;
    frame.EmphasisCode = b[3] & 3;
}

uint16_t TableBitRate(uint8_t versionCode, uint8_t layerCode, uint16_t bitRateIndex) {
    if (versionCode > 3 || layerCode > 3 || bitRateIndex > 15)
        return 0;
    return BitRates[versionCode][layerCode][bitRateIndex];
}

uint16_t TableBitRate(const FrameHeaderInfo& frame) {
    return TableBitRate(frame.VersionCode, frame.LayerCode, frame.BitRateIndex);
}

uint16_t TableSampleRate(uint8_t versionCode, uint16_t sampleRateIndex) {
    if (versionCode > 3 || sampleRateIndex > 3)
        return 0;
    return SampleRates[versionCode][sampleRateIndex];
}

uint16_t TableSampleRate(const FrameHeaderInfo& frame) {
    return TableSampleRate(frame.VersionCode, frame.SampleRateIndex);
}

uint16_t SlotFactor(const FrameHeaderInfo& frame) {
    // Layer I frames hold 384 samples, Layer II 1152, Layer III 1152 in MPEG 1 and 576 in
    // the low-sampling-frequency versions; Layer I lengths count 4-byte slots.
    if (frame.VersionCode == mvMpeg1)
        return frame.LayerCode == mlLayer1 ? 48 : 144;
    switch (frame.LayerCode) {
    case mlLayer1:
        return 24;
    case mlLayer2:
        return 144;
    default:
        return 72;
    }
}

uint16_t PaddingLength(const FrameHeaderInfo& frame) {
    if (!frame.Padded)
        return 0;
    return frame.LayerCode == mlLayer1 ? 4 : 1;
}

uint16_t FrameLength(const FrameHeaderInfo& frame) {
    const uint32_t sampleRate = TableSampleRate(frame);
    if (sampleRate == 0)
        return 0;
    const uint32_t bytes = uint32_t{SlotFactor(frame)} * TableBitRate(frame) * 1000 / sampleRate +
                           PaddingLength(frame);
    return static_cast<uint16_t>(bytes);
}

int VBRHeaderOffset(const FrameHeaderInfo& frame) {
    // The header (4 bytes) and the side information: 32 bytes in MPEG 1 and 17 in mono,
    // 17 and 9 in the low-sampling-frequency versions.
    const bool mono = frame.ModeCode == mmMono;
    if (frame.VersionCode == mvMpeg1)
        return mono ? 21 : 36;
    return mono ? 13 : 21;
}

VBRData ReadVBRHeader(const TSearchBlock& block, size_t offset) {
    VBRData vbr;
    if (offset > block.size() || block.size() - offset < VbriSize)
        return vbr;
    const uint8_t* h = block.data() + offset;
    const size_t room = block.size() - offset;
    if (SameBytes(h, "Xing", 4)) {
        vbr.Found = true;
        std::memcpy(vbr.Signature.data(), "Xing", 4);
        // The optional fields follow one another as the flags announce them. A count that
        // is not present stays 0, so the bit rate falls back to the frame's own.
        const uint32_t flags = BigEndian32(h + 4);
        size_t at = 8;
        if (flags & XingFlagFrames) {
            vbr.FrameCount = static_cast<int32_t>(BigEndian32(h + at));
            at += 4;
        }
        if (flags & XingFlagBytes) {
            vbr.ByteCount = static_cast<int32_t>(BigEndian32(h + at));
            at += 4;
        }
        if (flags & XingFlagToc)
            at += XingTocSize;
        if (flags & XingFlagQuality) {
            if (at + 4 <= room)
                vbr.Quality = h[at + 3];
            at += 4;
        }
        if (at + XingEncoderTextSize <= room)
            vbr.EncoderText.assign(reinterpret_cast<const char*>(h + at), XingEncoderTextSize);
    } else if (SameBytes(h, "VBRI", 4)) {
        vbr.Found = true;
        std::memcpy(vbr.Signature.data(), "VBRI", 4);
        vbr.Quality = h[VbriQualityAt];
        vbr.ByteCount = static_cast<int32_t>(BigEndian32(h + VbriBytesAt));
        vbr.FrameCount = static_cast<int32_t>(BigEndian32(h + VbriFramesAt));
    }
    return vbr;
}

void FindFirstFrame(const TSearchBlock& block, size_t length, FrameHeaderInfo& frame,
                    VBRData& vbr) {
    frame = FrameHeaderInfo{};
    length = std::min(length, block.size());
    for (size_t i = 0; i < size_t{FrameSearchPositions} && i + 4 <= length; ++i) {
        if (!IsFrameHeader(block.data() + i))
            continue;
        DecodeFrameHeader(block.data() + i, frame);
        const uint16_t size = FrameLength(frame);
        // The following header must lie within the bytes really read; cleared bytes and
        // bytes of an earlier read are never taken as a header.
        if (i + size + 4 > length || !IsFrameHeader(block.data() + i + size))
            continue;
        frame.Found = true;
        frame.Position = static_cast<int32_t>(i);
        frame.Size = size;
        frame.ZeroSideInfo = std::all_of(block.begin() + static_cast<std::ptrdiff_t>(i) + 4,
                                         block.begin() + static_cast<std::ptrdiff_t>(i) + 10,
                                         [](uint8_t b) { return b == 0; });
        const size_t xing = i + static_cast<size_t>(VBRHeaderOffset(frame));
        vbr = ReadVBRHeader(block, xing);
        if (vbr.Found && vbr.Signature[0] != 'X')
            vbr = VBRData{}; // a VBRI header stands only at its own offset
        if (!vbr.Found) {
            vbr = ReadVBRHeader(block, i + VbriOffset);
            if (vbr.Found && vbr.Signature[0] != 'V')
                vbr = VBRData{};
        }
        // A frame that holds a Xing, Info or VBRI header carries no audio, and encoders do
        // not always give it the stream's channel mode: the frame that confirmed it tells.
        // An Info header marks a constant rate, which that frame gives as well.
        const bool info = xing + 4 <= length && SameBytes(block.data() + xing, "Info", 4);
        if (vbr.Found || info) {
            FrameHeaderInfo next;
            DecodeFrameHeader(block.data() + i + size, next);
            frame.ModeCode = next.ModeCode;
            frame.ModeExtension = next.ModeExtension;
            if (info)
                frame.BitRateIndex = next.BitRateIndex;
        }
        return;
    }
    // A decoded candidate that was not confirmed leaves nothing behind.
    frame = FrameHeaderInfo{};
}

std::string FindEncoderTag(const TSearchBlock& block, uint16_t searchLength) {
    const int last = std::min<int>(searchLength, EncoderTagSearchLimit);
    for (int j = 0; j <= last; ++j) {
        const uint8_t* tag = block.data() + (SearchBlockSize - j - 8);
        if (SameBytes(tag, "LAME", 4))
            return std::string(reinterpret_cast<const char*>(tag), 8);
        if (SameBytes(tag, "GOGO", 4))
            return "GOGO";
    }
    return std::string();
}

bool HasID3v1Tag(TFileSystem& fs, const std::string& fileName) {
    auto file = fs.Open(fileName, TOpenMode::omReadOnly);
    if (!file)
        return false;
    int64_t size = 0;
    if (!file->Size(size) || size < ID3v1RecordSize)
        return false;
    uint8_t magic[3] = {};
    return file->ReadExactAt(size - ID3v1RecordSize, magic, sizeof magic) &&
           SameBytes(magic, "TAG", 3);
}

bool HasID3v1Tag(const std::string& fileName) {
    return HasID3v1Tag(TFileSystem::Default(), fileName);
}

void TMPEGaudio::ResetFields() {
    FFileLength = 0;
    FEncoderTag.clear();
    FVBR = VBRData{};
    FFrame = FrameHeaderInfo{};
    // Codes that name nothing: the texts read "MPEG ?", "Layer ?", "Unknown" and both rates
    // are 0.
    FFrame.VersionCode = mvReserved;
    FFrame.SampleRateIndex = 3;
    FFrame.ModeCode = mmUnknown;
    FFrame.ModeExtension = 4;
    FFrame.EmphasisCode = 2;
    FID3v2Size = 0;
}

bool TMPEGaudio::ReadFromFile(const std::string& fileName) {
    ResetFields();
    const bool result = Analyse(fileName);
    if (!FFrame.Found)
        ResetFields();
    return result;
}

bool TMPEGaudio::Analyse(const std::string& fileName) {
    auto file = Fs.Open(fileName, TOpenMode::omReadOnly);
    if (!file)
        return false;
    int64_t size = 0;
    if (!file->Size(size))
        return false;
    FFileLength = size;

    // Each block is cleared before it is read, so a short read never leaves bytes of an
    // earlier block behind.
    TSearchBlock block{};
    const auto readBlock = [&](int64_t offset) -> int64_t {
        block.fill(0);
        return file->ReadAt(offset, block.data(), SearchBlockSize);
    };

    // The start of the file holds the ID3v2 header, if any; when there is none the same
    // block is the start of the audio.
    int64_t got = readBlock(0);
    if (got < 0)
        return false;
    if (got >= TagHeaderSize) {
        TagInfo tag;
        tag.SetHeaderBytes(block.data());
        tag.FileSize = size;
        if (tag.HasIdentifier())
            FID3v2Size = TagTotalSize(tag);
    }
    if (FID3v2Size > 0 && (got = readBlock(FID3v2Size)) < 0)
        return false;
    FindFirstFrame(block, static_cast<size_t>(got), FFrame, FVBR);

    // The first frame may lie further behind the tag than the search reaches (junk, a
    // second tag): a frame from the middle of the audio tells the stream's format as well.
    if (!FFrame.Found && got == SearchBlockSize) {
        if ((got = readBlock(FID3v2Size + (size - FID3v2Size) / 2)) < 0)
            return false;
        FindFirstFrame(block, static_cast<size_t>(got), FFrame, FVBR);
    }

    if (FFrame.Found && !FVBR.Found) {
        // The encoder tag sits in the last frames of the audio, before an ID3v1 record. One
        // read fetches both; a file shorter than the two is read whole.
        std::array<uint8_t, SearchBlockSize + ID3v1RecordSize> tail{};
        const int64_t wanted = std::min<int64_t>(size, tail.size());
        const int64_t tailGot = file->ReadAt(size - wanted, tail.data(), wanted);
        if (tailGot < 0)
            return false;
        int64_t audioEnd = tailGot;
        if (tailGot == wanted && wanted >= ID3v1RecordSize &&
            SameBytes(tail.data() + wanted - ID3v1RecordSize, "TAG", 3))
            audioEnd -= ID3v1RecordSize;
        // The audio's last bytes go to the end of the block, where the search begins.
        const int64_t count = std::min<int64_t>(audioEnd, SearchBlockSize);
        block.fill(0);
        std::copy(tail.begin() + (audioEnd - count), tail.begin() + audioEnd, block.end() - count);
        FEncoderTag =
            FindEncoderTag(block, static_cast<uint16_t>(EncoderTagsPerFrame * FFrame.Size));
    }
    return file->Close();
}

std::string TMPEGaudio::Version() const {
    return FFrame.VersionCode <= 3 ? VersionTexts[FFrame.VersionCode] : VersionTexts[mvReserved];
}

std::string TMPEGaudio::Layer() const {
    return FFrame.LayerCode <= 3 ? LayerTexts[FFrame.LayerCode] : LayerTexts[mlReserved];
}

std::string TMPEGaudio::ChannelMode() const {
    return ModeTexts[std::min<uint8_t>(FFrame.ModeCode, mmUnknown)];
}

uint16_t TMPEGaudio::BitRate() const {
    // The average of a variable-rate stream: bytes per frame, less the first frame's padding,
    // turned back into a rate by the frame-length formula. Rounded to the nearest integer,
    // halves to even (the default rounding of nearbyint).
    const uint16_t slotFactor = SlotFactor(FFrame);
    if (!IsVBR() || FVBR.FrameCount <= 0 || FVBR.ByteCount <= 0 || slotFactor == 0)
        return TableBitRate(FFrame);
    const double rate =
        (static_cast<double>(FVBR.ByteCount) / FVBR.FrameCount - PaddingLength(FFrame)) *
        SampleRate() / slotFactor / 1000.0;
    // Counts that contradict each other cannot give a rate below 0 or beyond 16 bits.
    return static_cast<uint16_t>(std::clamp(std::nearbyint(rate), 0.0, 65535.0));
}

} // namespace cantorell
