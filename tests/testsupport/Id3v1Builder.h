// Builds raw ID3v1 records field by field, the way other taggers write them.
#pragma once

#include <cstdint>
#include <string>

namespace cantorell::test {

struct TId3v1Record {
    std::string Title{};
    std::string Artist{};
    std::string Album{};
    std::string Year{};
    std::string Comment{};
    // Set: a version 1.1 record, a zero byte then this byte close the comment field.
    int Track = -1;
    uint8_t Genre = 255;
    // The byte that fills each field after its text (zero, or a space as some writers use).
    char Fill = '\0';

    // The 128 bytes: "TAG", the fields at their offsets, the genre byte.
    std::string Build() const;
};

} // namespace cantorell::test
