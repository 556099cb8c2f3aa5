// Case rules for names that are compared without regard to the case of ASCII letters only:
// option keys and values, registry names, genre names. Bytes beyond ASCII (UTF-8 or
// ISO-8859-1) are compared as they are, so no locale can change a match.
#pragma once

#include <string>
#include <string_view>

namespace cantorell {

inline char UpperAsciiChar(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string UpperAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = UpperAsciiChar(c);
    return result;
}

inline bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (UpperAsciiChar(a[i]) != UpperAsciiChar(b[i]))
            return false;
    return true;
}

// The value of a hexadecimal digit of either case, or -1 for any other character.
inline int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace cantorell
