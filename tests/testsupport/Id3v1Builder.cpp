#include "Id3v1Builder.h"

namespace cantorell::test {

std::string TId3v1Record::Build() const {
    const auto field = [this](const std::string& text, size_t width) {
        std::string bytes = text.substr(0, width);
        bytes.resize(width, Fill);
        return bytes;
    };
    std::string record = "TAG";
    record += field(Title, 30);
    record += field(Artist, 30);
    record += field(Album, 30);
    record += field(Year, 4);
    if (Track >= 0) {
        record += field(Comment, 28);
        record.push_back('\0');
        record.push_back(static_cast<char>(Track));
    } else {
        record += field(Comment, 30);
    }
    record.push_back(static_cast<char>(Genre));
    return record;
}

} // namespace cantorell::test
