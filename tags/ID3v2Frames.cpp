#include "ID3v2Frames.h"

#include "ID3v1.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <vector>

#include <zlib.h>

namespace cantorell {

namespace {

constexpr char32_t Replacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Reads one code point from UTF-8 at `pos` and advances; a malformed sequence (overlong,
// surrogate, beyond U+10FFFF, cut short) gives U+FFFD and skips one byte.
char32_t NextUtf8(std::string_view s, size_t& pos) {
    const auto b0 = static_cast<uint8_t>(s[pos]);
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    int length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if ((b0 & 0xE0) == 0xC0) {
        length = 2, c = b0 & 0x1F, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3, c = b0 & 0x0F, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4, c = b0 & 0x07, minimum = 0x10000;
    } else {
        ++pos;
        return Replacement;
    }
    if (s.size() - pos < static_cast<size_t>(length)) {
        ++pos;
        return Replacement;
    }
    for (int i = 1; i < length; ++i) {
        const auto b = static_cast<uint8_t>(s[pos + i]);
        if ((b & 0xC0) != 0x80) {
            ++pos;
            return Replacement;
        }
        c = (c << 6) | (b & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++pos;
        return Replacement;
    }
    pos += length;
    return c;
}

std::u32string ToCodePoints(std::string_view utf8) {
    std::u32string out;
    out.reserve(utf8.size());
    for (size_t pos = 0; pos < utf8.size();)
        out += NextUtf8(utf8, pos);
    return out;
}

std::string Trim(std::string_view s) {
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && static_cast<uint8_t>(s[begin]) <= 0x20)
        ++begin;
    while (end > begin && static_cast<uint8_t>(s[end - 1]) <= 0x20)
        --end;
    return std::string(s.substr(begin, end - begin));
}

bool IsWide(uint8_t encoding) {
    return encoding == teUtf16 || encoding == teUtf16BE;
}

// Splits `bytes` at the encoding's terminators (two zero bytes on 16-bit boundaries for
// UTF-16, one zero byte otherwise).
std::vector<std::string_view> SplitValues(uint8_t encoding, std::string_view bytes) {
    std::vector<std::string_view> values;
    const size_t step = IsWide(encoding) ? 2 : 1;
    size_t start = 0;
    size_t pos = 0;
    while (pos + step <= bytes.size()) {
        const bool terminator = bytes[pos] == 0 && (step == 1 || bytes[pos + 1] == 0);
        if (terminator) {
            values.push_back(bytes.substr(start, pos - start));
            start = pos + step;
        }
        pos += step;
    }
    values.push_back(bytes.substr(start));
    return values;
}

// One UTF-16 string. A leading byte-order mark chooses the byte order and leaves it in
// `bigEndian` for the strings that follow in the same frame; a string without a mark keeps
// the order it is given (for the first string of encoding 1, little-endian, as the common
// Windows writers leave it; encoding 2 is always big-endian). A trailing odd byte is
// ignored; pairs combine.
std::string DecodeUtf16(std::string_view bytes, bool& bigEndian) {
    size_t pos = 0;
    if (bytes.size() >= 2) {
        const auto b0 = static_cast<uint8_t>(bytes[0]);
        const auto b1 = static_cast<uint8_t>(bytes[1]);
        if (b0 == 0xFF && b1 == 0xFE) {
            bigEndian = false, pos = 2;
        } else if (b0 == 0xFE && b1 == 0xFF) {
            bigEndian = true, pos = 2;
        }
    }
    auto unitAt = [&](size_t at) -> char32_t {
        const auto a = static_cast<uint8_t>(bytes[at]);
        const auto b = static_cast<uint8_t>(bytes[at + 1]);
        return bigEndian ? (char32_t{a} << 8 | b) : (char32_t{b} << 8 | a);
    };
    std::string out;
    out.reserve(bytes.size());
    while (pos + 2 <= bytes.size()) {
        const char32_t unit = unitAt(pos);
        pos += 2;
        if (unit >= 0xD800 && unit <= 0xDBFF && pos + 2 <= bytes.size()) {
            const char32_t low = unitAt(pos);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                pos += 2;
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                continue;
            }
        }
        AppendUtf8(out, unit >= 0xD800 && unit <= 0xDFFF ? Replacement : unit);
    }
    return out;
}

// `bigEndian` carries the byte order of encoding 1 from one string of a frame to the next.
std::string DecodeOne(uint8_t encoding, std::string_view bytes, bool& bigEndian) {
    switch (encoding) {
    case teLatin1:
        return Latin1ToUtf8(bytes);
    case teUtf16:
        return DecodeUtf16(bytes, bigEndian);
    case teUtf16BE: {
        bool big = true;
        return DecodeUtf16(bytes, big);
    }
    default: {
        std::string out;
        for (size_t pos = 0; pos < bytes.size();)
            AppendUtf8(out, NextUtf8(bytes, pos));
        return out;
    }
    }
}

void AppendUtf16LE(std::string& out, std::string_view utf8) {
    for (const char32_t c : ToCodePoints(utf8)) {
        auto unit = [&](char32_t u) {
            out += static_cast<char>(u & 0xFF);
            out += static_cast<char>(u >> 8);
        };
        if (c >= 0x10000) {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            unit(c);
        }
    }
}

std::string ToLatin1(std::string_view utf8) {
    std::string out;
    for (const char32_t c : ToCodePoints(utf8))
        out += static_cast<char>(c);
    return out;
}

// A string in encoding 0, 1 or 3, without terminator. In encoding 1 every string starts
// with its own byte-order mark, the empty one too: readers that follow the standard reject
// a string without one.
std::string EncodeString(uint8_t encoding, std::string_view utf8) {
    if (encoding == teLatin1)
        return ToLatin1(utf8);
    if (encoding == teUtf8)
        return std::string(utf8);
    std::string out = "\xFF\xFE";
    AppendUtf16LE(out, utf8);
    return out;
}

// ISO-8859-1 when it holds every character; otherwise UTF-8 in 2.4, which has it, and
// UTF-16 in 2.3, which does not.
uint8_t EncodingFor(std::initializer_list<std::string_view> texts, uint8_t version) {
    for (const std::string_view text : texts) {
        if (!FitsLatin1(text))
            return version >= 4 ? teUtf8 : teUtf16;
    }
    return teLatin1;
}

std::string_view Terminator(uint8_t encoding) {
    return IsWide(encoding) ? std::string_view("\0\0", 2) : std::string_view("\0", 1);
}

} // namespace

std::string Latin1ToUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (const char c : latin1)
        AppendUtf8(out, static_cast<uint8_t>(c));
    return out;
}

namespace {

std::string DecodeValues(uint8_t encoding, std::string_view bytes, TTextValues values,
                         bool& bigEndian) {
    std::string joined;
    for (const std::string_view value : SplitValues(encoding, bytes)) {
        std::string text = Trim(DecodeOne(encoding, value, bigEndian));
        if (values == TTextValues::tvFirst)
            return text;
        if (text.empty())
            continue;
        if (!joined.empty())
            joined += '/';
        joined += text;
    }
    return joined;
}

} // namespace

std::string DecodeText(uint8_t encoding, std::string_view bytes, TTextValues values) {
    bool bigEndian = false;
    return DecodeValues(encoding, bytes, values, bigEndian);
}

std::string DecodeFrameText(std::string_view body) {
    if (body.empty())
        return {};
    const auto encoding = static_cast<uint8_t>(body[0]);
    if (encoding > teUtf8)
        return {};
    return DecodeText(encoding, body.substr(1), TTextValues::tvAll);
}

std::string DecodeGenreText(std::string_view body) {
    std::string text = DecodeFrameText(body);
    // A genre given by number alone names the ID3v1 genre of that number.
    auto genreName = [](std::string_view digits) -> std::string {
        int number = -1;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
            number < 0 || number >= GenreCount)
            return {};
        return std::string(GenreNames[number]);
    };
    if (!text.empty() && text.front() >= '0' && text.front() <= '9') {
        if (std::string name = genreName(text); !name.empty())
            return name;
    }
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
        return text;
    std::string rest = Trim(std::string_view(text).substr(close + 1));
    if (!rest.empty())
        return rest;
    // Only references: "(17)" or "(17)(18)". The first one names the genre.
    if (text.front() == '(') {
        const size_t end = text.find(')');
        if (std::string name = genreName(std::string_view(text).substr(1, end - 1)); !name.empty())
            return name;
    }
    // "(RX)", "(CR)" or a number no table names: kept as written, so a save loses nothing.
    return text;
}

TDescribedText DecodeDescribed(std::string_view body, bool hasLanguage) {
    TDescribedText result;
    const size_t head = hasLanguage ? 4 : 1;
    if (body.size() < head)
        return result;
    const auto encoding = static_cast<uint8_t>(body[0]);
    if (encoding > teUtf8)
        return result;
    if (hasLanguage)
        result.Language = std::string(body.substr(1, 3));
    const std::string_view rest = body.substr(head);
    const size_t step = IsWide(encoding) ? 2 : 1;
    size_t terminator = std::string_view::npos;
    for (size_t pos = 0; pos + step <= rest.size(); pos += step) {
        if (rest[pos] == 0 && (step == 1 || rest[pos + 1] == 0)) {
            terminator = pos;
            break;
        }
    }
    // A text without a mark of its own is in the byte order of the description before it.
    bool bigEndian = false;
    if (terminator == std::string_view::npos) {
        result.Text = DecodeValues(encoding, rest, TTextValues::tvFirst, bigEndian);
        return result;
    }
    result.Description =
        DecodeValues(encoding, rest.substr(0, terminator), TTextValues::tvFirst, bigEndian);
    result.Text =
        DecodeValues(encoding, rest.substr(terminator + step), TTextValues::tvFirst, bigEndian);
    return result;
}

std::string DecodeDescribedText(std::string_view body, bool hasLanguage) {
    return DecodeDescribed(body, hasLanguage).Text;
}

std::string DecodeUserURL(std::string_view body) {
    if (body.empty() || static_cast<uint8_t>(body[0]) > teUtf8)
        return {};
    const auto encoding = static_cast<uint8_t>(body[0]);
    const std::string_view rest = body.substr(1);
    const size_t step = IsWide(encoding) ? 2 : 1;
    size_t pos = 0;
    while (pos + step <= rest.size() && !(rest[pos] == 0 && (step == 1 || rest[pos + 1] == 0)))
        pos += step;
    if (pos + step > rest.size())
        return {}; // no terminator: the body holds at most a description
    const std::string_view url = rest.substr(pos + step);
    // A URL in UTF-16 shows itself by zero bytes; ISO-8859-1 URLs have none.
    if (IsWide(encoding) && url.find('\0') != std::string_view::npos && url.size() % 2 == 0) {
        bool bigEndian = false;
        DecodeValues(encoding, rest.substr(0, pos), TTextValues::tvFirst, bigEndian);
        return DecodeValues(encoding, url, TTextValues::tvFirst, bigEndian);
    }
    return DecodeText(teLatin1, url, TTextValues::tvFirst);
}

int32_t ParseFrameNumber(std::string_view input) {
    const std::string text = Trim(input);
    std::string_view s = text;
    if (s.empty())
        return 0;
    int base = 10;
    bool negative = false;
    if (s[0] == '$' || s[0] == 'x' || s[0] == 'X') {
        base = 16, s.remove_prefix(1);
    } else if (s.size() > 1 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16, s.remove_prefix(2);
    } else if (s[0] == '+' || s[0] == '-') {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.empty() || s[0] == '+' || s[0] == '-')
        return 0;
    int64_t value = 0;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value, base);
    if (error != std::errc() || end != s.data() + s.size())
        return 0;
    if (negative)
        value = -value;
    // Hexadecimal texts up to FFFFFFFF wrap into the signed range, as a 32-bit reader
    // takes them.
    if (base == 16 && value > std::numeric_limits<int32_t>::max() && value <= 0xFFFFFFFFLL)
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        return 0;
    return static_cast<int32_t>(value);
}

bool FitsLatin1(std::string_view utf8) {
    for (size_t pos = 0; pos < utf8.size();) {
        if (NextUtf8(utf8, pos) > 0xFF)
            return false;
    }
    return true;
}

std::string EncodeFrameText(std::string_view utf8, uint8_t version) {
    const uint8_t encoding = EncodingFor({utf8}, version);
    return static_cast<char>(encoding) + EncodeString(encoding, utf8);
}

std::string EncodeDescribed(std::string_view language, std::string_view description,
                            std::string_view text, uint8_t version) {
    const uint8_t encoding = EncodingFor({description, text}, version);
    std::string body(1, static_cast<char>(encoding));
    body += language.size() == 3 ? language : std::string_view("eng");
    body += EncodeString(encoding, description);
    body += Terminator(encoding);
    body += EncodeString(encoding, text);
    return body;
}

std::string EncodeUserURL(std::string_view description, std::string_view utf8, uint8_t version) {
    const uint8_t encoding = EncodingFor({description}, version);
    std::string body(1, static_cast<char>(encoding));
    body += EncodeString(encoding, description);
    body += Terminator(encoding);
    for (size_t pos = 0; pos < utf8.size();) {
        const size_t start = pos;
        const char32_t c = NextUtf8(utf8, pos);
        if (c <= 0xFF) {
            body += static_cast<char>(c);
            continue;
        }
        static constexpr char Hex[] = "0123456789ABCDEF";
        for (size_t i = start; i < pos; ++i) {
            const auto b = static_cast<uint8_t>(utf8[i]);
            body += '%';
            body += Hex[b >> 4];
            body += Hex[b & 0x0F];
        }
    }
    return body;
}

std::string EncodeTerminatedText(std::string_view utf8, uint8_t version) {
    const uint8_t encoding = EncodingFor({utf8}, version);
    std::string out(1, static_cast<char>(encoding));
    out += EncodeString(encoding, utf8);
    out += Terminator(encoding);
    return out;
}

std::string RemoveUnsynchronisation(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        out += bytes[i];
        if (static_cast<uint8_t>(bytes[i]) == 0xFF && i + 1 < bytes.size() && bytes[i + 1] == 0)
            ++i;
    }
    return out;
}

std::string_view V22ToV23FrameId(std::string_view id) {
    static constexpr std::array<std::array<std::string_view, 2>, 68> Map = {{
        {"BUF", "RBUF"},
        {"CNT", "PCNT"},
        {"COM", "COMM"},
        {"CRA", "AENC"},
        {"ETC", "ETCO"},
        {"EQU", "EQUA"},
        {"GEO", "GEOB"},
        {"IPL", "IPLS"},
        {"LNK", "LINK"},
        {"MCI", "MCDI"},
        {"MLL", "MLLT"},
        {"PIC", "APIC"},
        {"POP", "POPM"},
        {"REV", "RVRB"},
        {"RVA", "RVAD"},
        {"SLT", "SYLT"},
        {"STC", "SYTC"},
        {"TAL", "TALB"},
        {"TBP", "TBPM"},
        {"TCM", "TCOM"},
        {"TCO", "TCON"},
        {"TCR", "TCOP"},
        {"TDA", "TDAT"},
        {"TDY", "TDLY"},
        {"TEN", "TENC"},
        {"TFT", "TFLT"},
        {"TIM", "TIME"},
        {"TKE", "TKEY"},
        {"TLA", "TLAN"},
        {"TLE", "TLEN"},
        {"TMT", "TMED"},
        {"TOA", "TOPE"},
        {"TOF", "TOFN"},
        {"TOL", "TOLY"},
        {"TOR", "TORY"},
        {"TOT", "TOAL"},
        {"TP1", "TPE1"},
        {"TP2", "TPE2"},
        {"TP3", "TPE3"},
        {"TP4", "TPE4"},
        {"TPA", "TPOS"},
        {"TPB", "TPUB"},
        {"TRC", "TSRC"},
        {"TRD", "TRDA"},
        {"TRK", "TRCK"},
        {"TSI", "TSIZ"},
        {"TSS", "TSSE"},
        {"TT1", "TIT1"},
        {"TT2", "TIT2"},
        {"TT3", "TIT3"},
        {"TXT", "TEXT"},
        {"TXX", "TXXX"},
        {"TYE", "TYER"},
        {"UFI", "UFID"},
        {"ULT", "USLT"},
        {"WAF", "WOAF"},
        {"WAR", "WOAR"},
        {"WAS", "WOAS"},
        {"WCM", "WCOM"},
        {"WCP", "WCOP"},
        {"WPB", "WPUB"},
        {"WXX", "WXXX"},
        // Sort-order and compilation frames that iTunes writes into 2.2 tags.
        {"TCP", "TCMP"},
        {"TST", "TSOT"},
        {"TSA", "TSOA"},
        {"TSP", "TSOP"},
        {"TS2", "TSO2"},
        {"TSC", "TSOC"},
    }};
    for (const auto& [v22, v23] : Map) {
        if (v22 == id)
            return v23;
    }
    return {};
}

std::string ConvertPicToApic(std::string_view body) {
    // encoding (1), image format (3), picture type (1), then description and data as is.
    if (body.size() < 5)
        return {};
    std::string format;
    for (const char c : body.substr(1, 3))
        format += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    std::string mime;
    if (format == "jpg")
        mime = "image/jpeg";
    else if (format == "-->")
        mime = "-->"; // the picture is a link, kept as one
    else
        mime = "image/" + Trim(format);
    std::string apic(1, body[0]);
    apic += mime;
    apic += '\0';
    apic += body.substr(4);
    return apic;
}

std::optional<std::string> Inflate(std::string_view compressed, size_t cap) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return std::nullopt;
    std::string out;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(std::min<size_t>(compressed.size(), UINT32_MAX));
    // The output grows with what really comes out, never with a size the file claims.
    constexpr size_t Chunk = 64 * 1024;
    int result = Z_OK;
    while (result == Z_OK) {
        if (out.size() >= cap) {
            result = Z_MEM_ERROR; // more than a frame may hold
            break;
        }
        const size_t have = out.size();
        out.resize(std::min(cap, have + std::max(Chunk, have)));
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + have);
        stream.avail_out = static_cast<uInt>(out.size() - have);
        result = inflate(&stream, Z_NO_FLUSH);
        out.resize(have + (out.size() - have - stream.avail_out));
        if (result == Z_BUF_ERROR && stream.avail_in == 0)
            break; // the data ends before the stream does
        if (result == Z_BUF_ERROR)
            result = Z_OK;
    }
    inflateEnd(&stream);
    if (result != Z_STREAM_END)
        return std::nullopt;
    return out;
}

std::optional<std::string> UnpackFrameBody(std::string_view body, uint8_t version, uint16_t flags,
                                           bool tagUnsynchronised) {
    const auto format = static_cast<uint8_t>(flags >> 8);
    bool compressed = false;
    if (version == 3) {
        // Behind the header, in this order: the decompressed size (compression), the method
        // (encryption), the group symbol (grouping).
        compressed = format & FormatV23Compressed;
        if (format & FormatV23Encrypted)
            return std::nullopt;
        const size_t extra = (compressed ? 4 : 0) + ((format & FormatV23Grouped) ? 1 : 0);
        if (body.size() < extra)
            return std::nullopt;
        body.remove_prefix(extra);
    } else if (version == 4) {
        // In this order: the group symbol, the method, the data-length indicator.
        compressed = format & FormatV24Compressed;
        if (format & FormatV24Encrypted)
            return std::nullopt;
        const size_t extra =
            ((format & FormatV24Grouped) ? 1 : 0) + ((format & FormatV24DataLength) ? 4 : 0);
        if (body.size() < extra)
            return std::nullopt;
        body.remove_prefix(extra);
        // Unsynchronisation was applied after compression, so it is undone first.
        if ((format & FormatV24Unsynchronised) || tagUnsynchronised) {
            std::string plain = RemoveUnsynchronisation(body);
            if (!compressed)
                return plain;
            return Inflate(plain, MaxInflatedFrameSize);
        }
    }
    if (compressed)
        return Inflate(body, MaxInflatedFrameSize);
    return std::string(body);
}

} // namespace cantorell
