#include "Id3v2Builder.h"

#include <algorithm>

#include <zlib.h>

namespace cantorell::test {

std::string BigEndianBytes(uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
            static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string SynchsafeBytes(uint32_t value) {
    return {static_cast<char>((value >> 21) & 0x7F), static_cast<char>((value >> 14) & 0x7F),
            static_cast<char>((value >> 7) & 0x7F), static_cast<char>(value & 0x7F)};
}

std::string FrameV22(std::string_view id, std::string_view body) {
    const auto size = static_cast<uint32_t>(body.size());
    return std::string(id) + BigEndianBytes(size).substr(1) + std::string(body);
}

std::string FrameV23(std::string_view id, std::string_view body, uint8_t status, uint8_t format) {
    return std::string(id) + BigEndianBytes(static_cast<uint32_t>(body.size())) +
           static_cast<char>(status) + static_cast<char>(format) + std::string(body);
}

std::string FrameV24(std::string_view id, std::string_view body, uint8_t status, uint8_t format) {
    return std::string(id) + SynchsafeBytes(static_cast<uint32_t>(body.size())) +
           static_cast<char>(status) + static_cast<char>(format) + std::string(body);
}

std::string TextBody(uint8_t encoding, std::string_view bytes) {
    return static_cast<char>(encoding) + std::string(bytes);
}

std::string Utf16LE(std::string_view ascii) {
    std::string out;
    for (const char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

std::string Utf16BE(std::string_view ascii) {
    std::string out;
    for (const char c : ascii) {
        out += '\0';
        out += c;
    }
    return out;
}

std::string DescribedBody(uint8_t encoding, std::string_view language, std::string_view description,
                          std::string_view text) {
    const bool wide = encoding == 1 || encoding == 2;
    return static_cast<char>(encoding) + std::string(language) + std::string(description) +
           std::string(wide ? 2 : 1, '\0') + std::string(text);
}

std::string ZlibCompress(std::string_view bytes) {
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size,
             reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uLong>(bytes.size()));
    out.resize(size);
    return out;
}

std::vector<TRawFrame> RawFrames(const std::string& file) {
    std::vector<TRawFrame> frames;
    if (file.size() < 10 || file.compare(0, 3, "ID3") != 0)
        return frames;
    auto byte = [&](size_t at) { return size_t{static_cast<uint8_t>(file[at])}; };
    const size_t end =
        std::min(file.size(), 10 + (byte(6) << 21) + (byte(7) << 14) + (byte(8) << 7) + byte(9));
    const bool synchsafe = file[3] == 4;
    size_t pos = 10;
    while (pos + 10 <= end && file[pos] != 0) {
        const size_t size = synchsafe ? (byte(pos + 4) << 21) | (byte(pos + 5) << 14) |
                                            (byte(pos + 6) << 7) | byte(pos + 7)
                                      : (byte(pos + 4) << 24) | (byte(pos + 5) << 16) |
                                            (byte(pos + 6) << 8) | byte(pos + 7);
        if (size > end - pos - 10)
            break;
        frames.push_back(
            {file.substr(pos, 4), file.substr(pos + 8, 2), file.substr(pos + 10, size)});
        pos += 10 + size;
    }
    return frames;
}

std::string TId3v2Tag::Build() const {
    const auto size = static_cast<uint32_t>(Frames.size() + Padding);
    const std::string fields =
        std::string{static_cast<char>(Version), '\0', static_cast<char>(Flags)} +
        SynchsafeBytes(size);
    std::string tag = "ID3" + fields + Frames + std::string(Padding, '\0');
    if (Flags & 0x10)
        tag += "3DI" + fields;
    return tag;
}

} // namespace cantorell::test
