#include "JsonWriter.h"

#include <charconv>

namespace cantorell::cli {

namespace {

constexpr char HexDigits[] = "0123456789abcdef";

void AppendUnitEscape(std::string& out, char16_t unit) {
    const char escape[] = {'\\',
                           'u',
                           HexDigits[(unit >> 12) & 0xF],
                           HexDigits[(unit >> 8) & 0xF],
                           HexDigits[(unit >> 4) & 0xF],
                           HexDigits[unit & 0xF]};
    out.append(escape, sizeof escape);
}

bool NeedsEscape(unsigned char c) {
    return c < 0x20 || c == '"' || c == '\\';
}

} // namespace

size_t Utf8SequenceLength(std::string_view bytes, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
    const uint8_t lead = byte(at);
    size_t length = 0;
    uint8_t low = 0x80, high = 0xBF;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > bytes.size() || byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return 0;
    }
    return length;
}

void TJsonWriter::BeforeValue() {
    if (FComma)
        FOut += ',';
    FComma = true;
}

void TJsonWriter::Open(char bracket) {
    BeforeValue();
    FOut += bracket;
    FComma = false;
}

void TJsonWriter::Close(char bracket) {
    FOut += bracket;
    FComma = true;
}

TJsonWriter& TJsonWriter::Key(std::string_view key) {
    // One append for the separator, the quoted key and the colon: keys are short.
    char piece[64];
    size_t length = 0;
    if (FComma)
        piece[length++] = ',';
    piece[length++] = '"';
    if (key.size() + 4 > sizeof piece) {
        FOut.append(piece, length);
        FOut += key;
        FOut += "\":";
    } else {
        key.copy(piece + length, key.size());
        length += key.size();
        piece[length++] = '"';
        piece[length++] = ':';
        FOut.append(piece, length);
    }
    FComma = false;
    return *this;
}

void TJsonWriter::AppendAscii(char c) {
    switch (c) {
    case '"':
        FOut += "\\\"";
        break;
    case '\\':
        FOut += "\\\\";
        break;
    case '\b':
        FOut += "\\b";
        break;
    case '\f':
        FOut += "\\f";
        break;
    case '\n':
        FOut += "\\n";
        break;
    case '\r':
        FOut += "\\r";
        break;
    case '\t':
        FOut += "\\t";
        break;
    default:
        if (NeedsEscape(static_cast<unsigned char>(c)))
            AppendUnitEscape(FOut, static_cast<char16_t>(c));
        else
            FOut += c;
    }
}

void TJsonWriter::AppendUtf8(std::string_view bytes) {
    size_t run = 0; // the start of the bytes that are copied as they are
    size_t at = 0;
    while (at < bytes.size()) {
        const auto byte = static_cast<unsigned char>(bytes[at]);
        if (byte < 0x80 && !NeedsEscape(byte)) {
            ++at;
            continue;
        }
        const size_t length = byte < 0x80 ? 1 : Utf8SequenceLength(bytes, at);
        if (length > 1) {
            at += length;
            continue;
        }
        FOut.append(bytes.data() + run, at - run);
        if (length == 1)
            AppendAscii(bytes[at]);
        else
            FOut += "\xEF\xBF\xBD"; // U+FFFD
        run = ++at;
    }
    FOut.append(bytes.data() + run, bytes.size() - run);
}

void TJsonWriter::Utf16(std::u16string_view text) {
    BeforeValue();
    FOut += '"';
    const auto isHigh = [](char16_t u) { return u >= 0xD800 && u <= 0xDBFF; };
    const auto isLow = [](char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; };
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u < 0x80) {
            AppendAscii(static_cast<char>(u));
        } else if (u < 0x800) {
            FOut += static_cast<char>(0xC0 | (u >> 6));
            FOut += static_cast<char>(0x80 | (u & 0x3F));
        } else if (!isHigh(u) && !isLow(u)) {
            FOut += static_cast<char>(0xE0 | (u >> 12));
            FOut += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            FOut += static_cast<char>(0x80 | (u & 0x3F));
        } else if (isHigh(u) && i + 1 < text.size() && isLow(text[i + 1])) {
            const char32_t code = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (text[++i] - 0xDC00);
            FOut += static_cast<char>(0xF0 | (code >> 18));
            FOut += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            FOut += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            FOut += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            // A surrogate without its partner has no UTF-8 form.
            AppendUnitEscape(FOut, u);
        }
    }
    FOut += '"';
}

void TJsonWriter::Utf8(std::string_view text) {
    BeforeValue();
    FOut += '"';
    // QString::fromUtf8 drops a byte-order mark at the start of the text only.
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    AppendUtf8(text);
    FOut += '"';
}

void TJsonWriter::Latin1(std::string_view text) {
    BeforeValue();
    FOut += '"';
    size_t run = 0; // the start of the bytes that are copied as they are
    for (size_t at = 0; at < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x80 && !NeedsEscape(byte))
            continue;
        FOut.append(text.data() + run, at - run);
        run = at + 1;
        if (byte < 0x80) {
            AppendAscii(text[at]);
        } else {
            const char pair[] = {static_cast<char>(0xC0 | (byte >> 6)),
                                 static_cast<char>(0x80 | (byte & 0x3F))};
            FOut.append(pair, 2);
        }
    }
    FOut.append(text.data() + run, text.size() - run);
    FOut += '"';
}

void TJsonWriter::FileName(std::string_view bytes) {
    BeforeValue();
    FOut += '"';
    AppendUtf8(bytes);
    FOut += '"';
}

void TJsonWriter::Number(int64_t value) {
    BeforeValue();
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    FOut.append(digits, result.ptr);
}

void TJsonWriter::Bool(bool value) {
    BeforeValue();
    FOut += value ? "true" : "false";
}

void TJsonWriter::Null() {
    BeforeValue();
    FOut += "null";
}

} // namespace cantorell::cli
