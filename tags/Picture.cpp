#include "Picture.h"

#include "ID3v2Frames.h"

#include <array>
#include <cstdlib>

namespace cantorell {

namespace {

constexpr std::array<std::string_view, PictureTypeCount> TypeNames = {
    "Other",
    "File icon",
    "Other file icon",
    "Front cover",
    "Back cover",
    "Leaflet page",
    "Media",
    "Lead artist",
    "Artist",
    "Conductor",
    "Band",
    "Composer",
    "Lyricist",
    "Recording location",
    "During recording",
    "During performance",
    "Screen capture",
    "Bright coloured fish",
    "Illustration",
    "Band logo",
    "Publisher logo",
};

uint32_t At(std::string_view s, size_t i) {
    return static_cast<uint8_t>(s[i]);
}
uint32_t BigEndian16(std::string_view s, size_t i) {
    return At(s, i) << 8 | At(s, i + 1);
}
uint32_t LittleEndian16(std::string_view s, size_t i) {
    return At(s, i) | At(s, i + 1) << 8;
}
uint32_t LittleEndian24(std::string_view s, size_t i) {
    return LittleEndian16(s, i) | At(s, i + 2) << 16;
}
uint32_t LittleEndian32(std::string_view s, size_t i) {
    return LittleEndian24(s, i) | At(s, i + 3) << 24;
}
uint32_t BigEndian32At(std::string_view s, size_t i) {
    return BigEndian16(s, i) << 16 | BigEndian16(s, i + 2);
}

// Sizes beyond this are no real picture's; the header is taken as damaged.
constexpr uint32_t MaxSide = 1u << 24;

void SetSize(TImageHeader& header, uint32_t width, uint32_t height) {
    if (width == 0 || height == 0 || width > MaxSide || height > MaxSide)
        return;
    header.Width = static_cast<int>(width);
    header.Height = static_cast<int>(height);
}

// JPEG: markers FF xx, each segment but the stand-alone ones with a 16-bit length that
// counts itself. A start-of-frame segment (C0 to CF, except C4 DHT, C8 JPG and CC DAC)
// holds precision (1), height (2), width (2).
void JpegSize(std::string_view b, TImageHeader& header) {
    size_t pos = 2;
    while (pos + 4 <= b.size()) {
        if (At(b, pos) != 0xFF)
            return;
        const uint32_t marker = At(b, pos + 1);
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            pos += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) // end of image, start of scan: no frame yet
            return;
        const uint32_t length = BigEndian16(b, pos + 2);
        if (length < 2)
            return;
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
            marker != 0xCC) {
            if (pos + 9 <= b.size())
                SetSize(header, BigEndian16(b, pos + 7), BigEndian16(b, pos + 5));
            return;
        }
        pos += 2 + length;
    }
}

// WebP: "RIFF", size, "WEBP", then the first chunk: lossy "VP8 " (14-bit sizes after the
// start code 9D 01 2A), lossless "VP8L" (signature 2F, then 14-bit sizes minus one) or
// extended "VP8X" (24-bit canvas sizes minus one).
void WebpSize(std::string_view b, TImageHeader& header) {
    const std::string_view chunk = b.substr(12, 4);
    if (chunk == "VP8 " && b.size() >= 30 && At(b, 23) == 0x9D && At(b, 24) == 0x01 &&
        At(b, 25) == 0x2A) {
        SetSize(header, LittleEndian16(b, 26) & 0x3FFF, LittleEndian16(b, 28) & 0x3FFF);
    } else if (chunk == "VP8L" && b.size() >= 25 && At(b, 20) == 0x2F) {
        const uint32_t bits = LittleEndian32(b, 21);
        SetSize(header, (bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1);
    } else if (chunk == "VP8X" && b.size() >= 30) {
        SetSize(header, LittleEndian24(b, 24) + 1, LittleEndian24(b, 27) + 1);
    }
}

} // namespace

std::string_view PictureTypeName(uint8_t type) {
    return type < PictureTypeCount ? TypeNames[type] : TypeNames[0];
}

TImageHeader SniffImage(std::string_view b) {
    TImageHeader header;
    if (b.size() >= 3 && b.substr(0, 3) == "\xFF\xD8\xFF") {
        header.Mime = "image/jpeg";
        JpegSize(b, header);
    } else if (b.size() >= 8 && b.substr(0, 8) == "\x89PNG\r\n\x1A\n") {
        header.Mime = "image/png";
        if (b.size() >= 24 && b.substr(12, 4) == "IHDR")
            SetSize(header, BigEndian32At(b, 16), BigEndian32At(b, 20));
    } else if (b.size() >= 6 && (b.substr(0, 6) == "GIF87a" || b.substr(0, 6) == "GIF89a")) {
        header.Mime = "image/gif";
        if (b.size() >= 10)
            SetSize(header, LittleEndian16(b, 6), LittleEndian16(b, 8));
    } else if (b.size() >= 16 && b.substr(0, 4) == "RIFF" && b.substr(8, 4) == "WEBP") {
        header.Mime = "image/webp";
        WebpSize(b, header);
    } else if (b.size() >= 18 && b.substr(0, 2) == "BM") {
        // The info header's size tells its layout: 12 bytes (OS/2) has 16-bit sizes, the
        // later ones 32-bit sizes, the height negative for a top-down image.
        const uint32_t info = LittleEndian32(b, 14);
        if (info != 12 && info < 40)
            return header;
        header.Mime = "image/bmp";
        if (info == 12 && b.size() >= 22) {
            SetSize(header, LittleEndian16(b, 18), LittleEndian16(b, 20));
        } else if (info >= 40 && b.size() >= 26) {
            const auto height = static_cast<int32_t>(LittleEndian32(b, 22));
            SetSize(header, LittleEndian32(b, 18),
                    static_cast<uint32_t>(height < 0 ? -int64_t{height} : height));
        }
    }
    return header;
}

std::string_view PictureExtension(std::string_view mime) {
    if (mime == "image/jpeg" || mime == "image/jpg")
        return "jpg";
    if (mime == "image/png")
        return "png";
    if (mime == "image/gif")
        return "gif";
    if (mime == "image/webp")
        return "webp";
    if (mime == "image/bmp")
        return "bmp";
    return "bin";
}

bool ParsePictureFrame(std::string_view body, bool v22, TPictureFrame& out) {
    out = TPictureFrame{};
    if (body.empty())
        return false;
    out.Encoding = static_cast<uint8_t>(body[0]);
    size_t pos = 1;
    if (v22) {
        if (body.size() < 5)
            return false;
        std::string format;
        for (const char c : body.substr(1, 3))
            format += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        out.Mime = format == "jpg" ? std::string("image/jpeg") : "image/" + format;
        pos = 4;
    } else {
        const size_t end = body.find('\0', pos);
        if (end == std::string_view::npos)
            return false;
        out.Mime = Latin1ToUtf8(body.substr(pos, end - pos));
        pos = end + 1;
    }
    if (pos >= body.size())
        return false;
    out.Type = static_cast<uint8_t>(body[pos++]);
    // The description ends with a zero byte, or two on a 16-bit boundary in UTF-16.
    const size_t step = out.Encoding == teUtf16 || out.Encoding == teUtf16BE ? 2 : 1;
    size_t end = pos;
    while (end + step <= body.size() && !(body[end] == 0 && (step == 1 || body[end + 1] == 0)))
        end += step;
    if (end + step > body.size())
        return false;
    out.Description = DecodeText(out.Encoding > teUtf8 ? uint8_t{teLatin1} : out.Encoding,
                                 body.substr(pos, end - pos), TTextValues::tvFirst);
    out.DataOffset = end + step;
    return true;
}

std::string EncodePictureFrame(std::string_view mime, uint8_t type, std::string_view description,
                               std::string_view image, uint8_t version) {
    const std::string text = EncodeTerminatedText(description, version);
    std::string body;
    body.reserve(text.size() + mime.size() + 2 + image.size());
    body += text[0];
    body += mime;
    body += '\0';
    body += static_cast<char>(type);
    body.append(text, 1);
    body += image;
    return body;
}

} // namespace cantorell
