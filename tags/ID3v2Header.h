// The ID3v2 tag header that starts a tagged file, and the sizes derived from it.
//
//   offset  size  content
//        0     3  "ID3"
//        3     1  major version (2, 3 and 4 are read)
//        4     1  revision
//        5     1  flags (0x80 unsynchronisation, 0x40 extended header, 0x10 footer)
//        6     4  size of everything after the header, four 7-bit groups, high first
//
// Shared by the ID3v2 reader and writer and by the MPEG analyser, which needs to know
// where the audio begins.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace cantorell {

class TFileSystem;

inline constexpr int TagHeaderSize = 10;
inline constexpr uint8_t TagFlagUnsynchronisation = 0x80;
inline constexpr uint8_t TagFlagExtendedHeader = 0x40;
inline constexpr uint8_t TagFlagFooter = 0x10;
// Text slots: rows 0 to 21 of the frame-identifier table.
inline constexpr int TextSlotCount = 22;

// The work record for one tag: the ten header bytes, the size of the file they came from,
// and the raw bodies of the text frames (encoding byte included).
struct TagInfo {
    std::array<char, 3> Identifier{};
    uint8_t MajorVersion = 0;
    uint8_t RevisionNumber = 0;
    uint8_t Flags = 0;
    std::array<uint8_t, 4> SizeBytes{};
    int64_t FileSize = 0;
    std::array<std::string, TextSlotCount> FrameText;
    bool MustRebuild = false;

    bool HasIdentifier() const {
        return Identifier[0] == 'I' && Identifier[1] == 'D' && Identifier[2] == '3';
    }
    // Fills the header fields from ten bytes in file order.
    void SetHeaderBytes(const uint8_t* bytes);
};

// Reads the first ten bytes of the file into the header fields of `tag`, and the file's size
// into FileSize. True when all ten bytes were read.
bool ReadTagHeader(TFileSystem& fs, const std::string& fileName, TagInfo& tag);
bool ReadTagHeader(const std::string& fileName, TagInfo& tag);

// Header, frames, padding and footer, in bytes; 0 when that is more than the file holds.
int32_t TagTotalSize(const TagInfo& tag);

// The bytes the ID3v2 tag takes at the start of the file, 0 when there is none.
int32_t LeadingTagSize(TFileSystem& fs, const std::string& fileName);
int32_t LeadingTagSize(const std::string& fileName);

inline uint32_t BigEndian32(const uint8_t* b) {
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

} // namespace cantorell
