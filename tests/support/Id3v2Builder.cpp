#include "Id3v2Builder.h"

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
