// A small JSON writer for `show --json`, appending straight to a byte string. It links no
// Qt, so the tool's fast `show --json` runs without loading it.
//
// Its output is what QJsonDocument's compact form gives for the same values, byte for
// byte, so scripts that read the tool's lines see no difference: strings are UTF-8 with
// \" \\ \b \f \n \r \t and every other character below U+0020 as \u00xx (lower-case hex);
// U+007F and everything above is written as UTF-8; a UTF-16 unit that is no part of a
// surrogate pair is written as \uxxxx. Numbers are whole decimal numbers. Keys are not
// sorted here: callers write them in the order QJsonObject keeps them (by UTF-16 code
// unit, so "genre" comes before "genreId").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cantorell::cli {

// The length of the well-formed UTF-8 sequence at `at`, or 0 (overlong forms, surrogates
// and code points beyond U+10FFFF are not well-formed).
size_t Utf8SequenceLength(std::string_view bytes, size_t at);

class TJsonWriter {
public:
    explicit TJsonWriter(std::string& out) : FOut(out) {}

    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    // A key of the current object: plain ASCII that needs no escape. The value follows
    // on the writer returned: `json.Key("title").Utf8(title)`.
    TJsonWriter& Key(std::string_view key);

    // A text in the program's UTF-8, read as QString::fromUtf8 reads it: a leading
    // byte-order mark is dropped, and each byte that does not start a well-formed sequence
    // becomes one U+FFFD (a sequence cut short gives one for its lead byte and one for each
    // continuation byte).
    void Utf8(std::string_view text);
    // A text of ISO-8859-1 bytes (the ID3v1 fields, frame IDs).
    void Latin1(std::string_view text);
    // A text of UTF-16 code units, as a QString holds it.
    void Utf16(std::u16string_view text);
    // A file's name as the system gives it: each byte that is no part of well-formed UTF-8
    // becomes U+FFFD (the name of such a file cannot be written in JSON as it is).
    void FileName(std::string_view bytes);
    void Number(int64_t value);
    void Bool(bool value);
    void Null();

private:
    void BeforeValue();
    // A value's opening bracket, and the closing one that ends it.
    void Open(char bracket);
    void Close(char bracket);
    // Appends the characters of `bytes`, escaped, without the quotes; each byte that does
    // not start a well-formed UTF-8 sequence becomes U+FFFD.
    void AppendUtf8(std::string_view bytes);
    void AppendAscii(char c);

    std::string& FOut;
    bool FComma = false;
};

} // namespace cantorell::cli
