// Builds raw ID3v2 tags and frames of versions 2.2, 2.3 and 2.4 from named parts, the way
// other taggers lay them out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cantorell::test {

// Four bytes, most significant first: a plain number, or four 7-bit groups.
std::string BigEndianBytes(uint32_t value);
std::string SynchsafeBytes(uint32_t value);

// A 2.2 frame: 3-character identifier, 24-bit size, body.
std::string FrameV22(std::string_view id, std::string_view body);
// A 2.3 frame: identifier, plain 32-bit size, status byte, format byte, body.
std::string FrameV23(std::string_view id, std::string_view body, uint8_t status = 0,
                     uint8_t format = 0);
// A 2.4 frame: as 2.3 but with a synchsafe size.
std::string FrameV24(std::string_view id, std::string_view body, uint8_t status = 0,
                     uint8_t format = 0);

// A text body: the encoding byte, then `bytes` as given.
std::string TextBody(uint8_t encoding, std::string_view bytes);
// ASCII text as UTF-16 code units, little- or big-endian, without a mark.
std::string Utf16LE(std::string_view ascii);
std::string Utf16BE(std::string_view ascii);
// A comment or lyrics body: encoding, language, description, terminator, text, with the
// terminator's width chosen by the encoding.
std::string DescribedBody(uint8_t encoding, std::string_view language, std::string_view description,
                          std::string_view text);

// `bytes` as a zlib stream, the way a compressed frame carries its body.
std::string ZlibCompress(std::string_view bytes);

// One frame of a 2.3 or 2.4 tag as it stands in a file.
struct TRawFrame {
    std::string Id;
    std::string Flags; // the two flag bytes
    std::string Body;
    bool operator==(const TRawFrame&) const = default;
};
// The frames of the tag at the start of `file` (2.3 or 2.4, no extended header or
// unsynchronisation), read independently of the reader under test.
std::vector<TRawFrame> RawFrames(const std::string& file);

struct TId3v2Tag {
    uint8_t Version = 3;
    uint8_t Flags = 0;
    std::string Frames{};
    size_t Padding = 0;

    // Header, frames, padding and, when Flags has 0x10, a footer ("3DI", same fields). The
    // size field counts frames and padding.
    std::string Build() const;
};

} // namespace cantorell::test
