// Small helpers for the options store tests: texts as CR LF lines, stores loaded from
// literal bytes, and a value's type and text in one call.
#pragma once

#include "settings/ElIni.h"

#include <initializer_list>
#include <string>
#include <string_view>

namespace cantorell::test {

// Every line followed by CR LF, as the store writes them.
inline std::string CrLfLines(std::initializer_list<std::string_view> lines) {
    std::string text;
    for (std::string_view line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

inline void LoadText(TElIniFile& store, std::string_view text) {
    store.SetBinaryMode(false);
    store.LoadFromBytes(text, "test.ini");
}

// The type of the value at key/name, or -1 when there is none.
inline int TypeOf(TElIniFile& store, const std::string& key, const std::string& name) {
    const TElIniEntry* entry = store.GetValueEntry(key, name);
    return entry == nullptr ? -1 : entry->ValueType;
}

inline std::string StringOf(TElIniFile& store, const std::string& key, const std::string& name) {
    std::string value;
    store.ReadString(key, name, "<none>", value);
    return value;
}

} // namespace cantorell::test
