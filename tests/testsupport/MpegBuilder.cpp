#include "MpegBuilder.h"

#include <stdexcept>

namespace cantorell::test {

namespace {

void PutBigEndian(std::string& out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

} // namespace

std::string TMpegHeader::Build() const {
    std::string bytes(4, '\0');
    bytes[0] = static_cast<char>(0xFF);
    bytes[1] = static_cast<char>(0xE0 | (Version & 3) << 3 | (Layer & 3) << 1 | (Crc ? 0 : 1));
    bytes[2] =
        static_cast<char>((BitRateIndex & 15) << 4 | (SampleRateIndex & 3) << 2 | (Padded ? 2 : 0));
    bytes[3] = static_cast<char>((Mode & 3) << 6 | (ModeExtension & 3) << 4 | (Copyright ? 8 : 0) |
                                 (Original ? 4 : 0) | (Emphasis & 3));
    return bytes;
}

std::string MpegFrame(const TMpegHeader& header, size_t length) {
    if (length < 4)
        throw std::invalid_argument("an MPEG frame holds at least its header");
    std::string frame = header.Build();
    for (size_t i = 4; i < length; ++i)
        frame.push_back(static_cast<char>(0x20 + i % 64));
    return frame;
}

std::string MpegFrames(const TMpegHeader& header, size_t length, int count) {
    std::string frames;
    for (int i = 0; i < count; ++i)
        frames += MpegFrame(header, length);
    return frames;
}

void PutAt(std::string& target, size_t offset, const std::string& bytes) {
    if (offset + bytes.size() > target.size())
        throw std::out_of_range("bytes put past the end of the target");
    target.replace(offset, bytes.size(), bytes);
}

std::string TXingHeader::Build() const {
    std::string out = Signature;
    PutBigEndian(out, Flags, 4);
    if (Flags & 1)
        PutBigEndian(out, Frames, 4);
    if (Flags & 2)
        PutBigEndian(out, Bytes, 4);
    if (Flags & 4) {
        for (int i = 0; i < 100; ++i)
            out.push_back(static_cast<char>(i * 255 / 100));
    }
    if (Flags & 8)
        PutBigEndian(out, Quality, 4);
    return out + Encoder;
}

std::string TVbriHeader::Build() const {
    std::string out = "VBRI";
    PutBigEndian(out, Version, 2);
    PutBigEndian(out, Delay, 2);
    PutBigEndian(out, Quality, 2);
    PutBigEndian(out, Bytes, 4);
    PutBigEndian(out, Frames, 4);
    PutBigEndian(out, 0, 2); // seek-table entries
    return out;
}

std::string VbrFrame(const TMpegHeader& header, size_t length, size_t offset,
                     const std::string& vbr) {
    std::string frame = MpegFrame(header, length);
    PutAt(frame, 4, std::string(offset - 4, '\0'));
    PutAt(frame, offset, vbr);
    return frame;
}

std::string Id3v2Tag(size_t totalSize) {
    const std::string frameBody = std::string(1, '\0') + "A title";
    std::string frames = "TIT2";
    PutBigEndian(frames, static_cast<uint32_t>(frameBody.size()), 4);
    frames += std::string(2, '\0') + frameBody;
    const size_t headerSize = 10;
    if (totalSize < headerSize + frames.size())
        throw std::invalid_argument("tag too small for its frame");
    const size_t body = totalSize - headerSize;
    std::string tag = "ID3";
    tag += std::string{'\x03', '\x00', '\x00'};
    for (int shift = 21; shift >= 0; shift -= 7)
        tag.push_back(static_cast<char>((body >> shift) & 0x7F));
    tag += frames;
    tag += std::string(totalSize - tag.size(), '\0');
    return tag;
}

} // namespace cantorell::test
