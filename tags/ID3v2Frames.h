// ID3v2 frames: the identifier table and the pure decoders and encoders of frame bodies.
//
// Frame header of a 2.2 tag (6 bytes): identifier (3), body size (24-bit big-endian).
// Frame header of a 2.3 / 2.4 tag (10 bytes): identifier (4), body size (32 bits: a plain
// number in 2.3, four 7-bit groups in 2.4), status flags byte, format flags byte.
//
// Text bodies begin with an encoding byte:
//   0 ISO-8859-1, terminator 00
//   1 UTF-16 with byte-order mark (FF FE little-endian, FE FF big-endian), terminator 00 00
//   2 UTF-16BE without mark (2.4), terminator 00 00
//   3 UTF-8 (2.4), terminator 00
// Every text that leaves this file is UTF-8; everything here works on byte views and
// never reads outside them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cantorell {

inline constexpr int FrameRowCount = 25;
// Rows 0 to 21 are text slots; these three rows name the frames kept in collections.
inline constexpr int RowAlbum = 0;
inline constexpr int RowArtist = 1;
inline constexpr int RowTitle = 2;
inline constexpr int RowTrack = 3;
inline constexpr int RowYear = 4;
inline constexpr int RowGenre = 5;
inline constexpr int RowUserURL = 11;
inline constexpr int RowBPM = 21;
inline constexpr int RowComments = 22;
inline constexpr int RowLyrics = 23;
inline constexpr int RowImages = 24;

// Frame identifiers by row, one column per major version 2, 3, 4. "----" never matches:
// 2.4 has no recording-dates frame. The rows are laid down with the tag object's fields
// they fill (DID3v2.cpp), so that identifiers and fields cannot fall out of step.
extern const std::array<std::array<std::string_view, 3>, FrameRowCount> FrameIdTable;

// The row of `id` in the column of `majorVersion` (2 to 4), -1 when none.
int FindFrameRow(std::string_view id, int majorVersion);

enum TTextEncoding : uint8_t { teLatin1 = 0, teUtf16 = 1, teUtf16BE = 2, teUtf8 = 3 };

// How a text body is read when it holds several terminated strings.
enum class TTextValues {
    tvAll,  // 2.4 lists several values: all are kept, joined with "/"
    tvFirst // comment and lyrics texts: the first string only
};

// The text of `bytes` in encoding `encoding` (no encoding byte in `bytes`), as UTF-8 with
// characters up to the space trimmed from both ends of each value. Malformed sequences
// become U+FFFD.
std::string DecodeText(uint8_t encoding, std::string_view bytes, TTextValues values);

// The text of a text-frame body (encoding byte first).
std::string DecodeFrameText(std::string_view body);
// As DecodeFrameText, then the genre: "(17)Rock" gives "Rock", and a text that is only a
// reference "(17)" or a number "17" below 148 gives that genre's name.
std::string DecodeGenreText(std::string_view body);

// A body of the form: encoding, [language (3 bytes)], description, terminator, text.
struct TDescribedText {
    std::string Language; // the three bytes as read; empty when absent
    std::string Description;
    std::string Text;
};
TDescribedText DecodeDescribed(std::string_view body, bool hasLanguage);
// The text part of DecodeDescribed.
std::string DecodeDescribedText(std::string_view body, bool hasLanguage);
// The URL of a user URL ("WXXX") body. The URL itself is ISO-8859-1 whatever the encoding
// byte says (that byte covers the description), unless a writer plainly stored it in
// UTF-16 as well.
std::string DecodeUserURL(std::string_view body);

// Trimmed text as a signed 32-bit number: optional sign and decimal digits, or hexadecimal
// digits after "$", "x", "X" or "0x". Anything else, or out of range, gives 0.
int32_t ParseFrameNumber(std::string_view text);

// True when every character of the UTF-8 text is in ISO-8859-1.
bool FitsLatin1(std::string_view utf8);
// The encoders write a text in ISO-8859-1 when it holds every character, otherwise in
// UTF-8 for a 2.4 tag (`version` 4) and in UTF-16 with a byte-order mark on every string
// for a 2.3 tag.
//
// A text-frame body.
std::string EncodeFrameText(std::string_view utf8, uint8_t version);
// A comment or lyrics body (language always present; "eng" unless `language` has three
// bytes).
std::string EncodeDescribed(std::string_view language, std::string_view description,
                            std::string_view text, uint8_t version);
// A "WXXX" body. The URL itself is always ISO-8859-1: characters beyond it are
// percent-encoded as UTF-8, the way a URL carries them.
std::string EncodeUserURL(std::string_view description, std::string_view utf8, uint8_t version);
// The encoding byte, then the text and its terminator: how a picture stores its
// description (the encoding byte heads the frame, the rest follows the MIME type).
std::string EncodeTerminatedText(std::string_view utf8, uint8_t version);

// A character of a 2.3 or 2.4 frame identifier: a capital letter or a digit.
inline bool IsFrameIdChar(uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Format-flag bits (the second flag byte) of a 2.3 frame.
inline constexpr uint8_t FormatV23Compressed = 0x80;
inline constexpr uint8_t FormatV23Encrypted = 0x40;
inline constexpr uint8_t FormatV23Grouped = 0x20;
// Format-flag bits of a 2.4 frame.
inline constexpr uint8_t FormatV24Grouped = 0x40;
inline constexpr uint8_t FormatV24Compressed = 0x08;
inline constexpr uint8_t FormatV24Encrypted = 0x04;
inline constexpr uint8_t FormatV24Unsynchronised = 0x02;
inline constexpr uint8_t FormatV24DataLength = 0x01;

// The largest body a compressed frame may inflate to.
inline constexpr size_t MaxInflatedFrameSize = 16 * 1024 * 1024;
// The zlib stream `compressed` inflated; none when it is damaged, cut short or would grow
// beyond `cap` bytes.
std::optional<std::string> Inflate(std::string_view compressed, size_t cap);
// The content of a frame body as stored in a tag of major version `version` with flags
// `flags` (status byte low, format byte high): the bytes the flags add (group symbol,
// sizes) are skipped, per-frame unsynchronisation is undone (2.4, or every frame of a 2.4
// tag whose header flag says so) and a compressed body is inflated. None for an encrypted
// body, a body too short for what its flags announce, and one that does not inflate.
std::optional<std::string> UnpackFrameBody(std::string_view body, uint8_t version, uint16_t flags,
                                           bool tagUnsynchronised);

// Undoes unsynchronisation: every FF 00 becomes FF.
std::string RemoveUnsynchronisation(std::string_view bytes);

// The 2.3 identifier of a 2.2 frame, empty when 2.3 has none.
std::string_view V22ToV23FrameId(std::string_view id);
// A 2.2 "PIC" body (encoding, image format (3), picture type, description, data) in the
// "APIC" layout (encoding, MIME type, 00, picture type, description, data).
std::string ConvertPicToApic(std::string_view body);

// UTF-8 helpers shared with the tag object.
std::string Latin1ToUtf8(std::string_view latin1);

} // namespace cantorell
