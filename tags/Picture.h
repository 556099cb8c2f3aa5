// Pictures in ID3v2 tags: the layout of the picture frames, and what the first bytes of an
// image say about it.
//
// "APIC" body (2.3, 2.4):
//   encoding (1), MIME type (ISO-8859-1, ended by 00), picture type (1),
//   description (in the encoding, ended by its terminator), image data.
// "PIC" body (2.2):
//   encoding (1), image format (3 characters, "JPG", "PNG"), picture type (1),
//   description, image data.
//
// Everything here is pure and reads only inside the views it is given, so that a picture
// can be described from its first bytes without its whole body in memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cantorell {

// Picture types 0 to 20; 3 is the front cover.
inline constexpr uint8_t PictureTypeFrontCover = 3;
inline constexpr uint8_t PictureTypeCount = 21;
// The largest image a user adds to a tag.
inline constexpr int64_t MaxPictureFileSize = 16 * 1024 * 1024;

// "Front cover", "Back cover", ...; "Other" for a type beyond the table.
std::string_view PictureTypeName(uint8_t type);

// What the header of an image says: its MIME type (empty when the bytes are no JPEG, PNG,
// GIF, WebP or BMP image) and its pixel size (0 when the bytes given end before it).
struct TImageHeader {
    std::string Mime;
    int Width = 0;
    int Height = 0;
};
TImageHeader SniffImage(std::string_view bytes);

// The file-name extension for a MIME type ("jpg" for image/jpeg); "bin" when unknown.
std::string_view PictureExtension(std::string_view mime);

// The fields of a picture frame's body.
struct TPictureFrame {
    uint8_t Encoding = 0;
    std::string Mime; // a 2.2 format is given as its MIME type ("JPG" gives image/jpeg)
    uint8_t Type = 0;
    std::string Description; // UTF-8
    size_t DataOffset = 0;   // where the image data begins in the body
};
// Parses a body of "APIC" (`v22` false) or "PIC" (`v22` true). False when the body ends
// before the image data begins (the data itself may be empty). `body` may be only the
// first bytes of a longer body, as long as the description ends inside it.
bool ParsePictureFrame(std::string_view body, bool v22, TPictureFrame& out);

// An "APIC" body for a tag of major version `version`: the description is written in
// ISO-8859-1 when that holds it, otherwise in UTF-8 (2.4) or UTF-16 with a mark (2.3).
std::string EncodePictureFrame(std::string_view mime, uint8_t type, std::string_view description,
                               std::string_view image, uint8_t version);

} // namespace cantorell
