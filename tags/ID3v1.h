// The ID3v1 tag: a fixed 128-byte record at the very end of an MP3 file.
//
//   offset  width  content
//        0      3  "TAG"
//        3     30  title
//       33     30  artist
//       63     30  album
//       93      4  year (text)
//       97     30  comment (version 1.0)
//       97     28  comment (version 1.1), then a zero byte at 125 and the track at 126
//      127      1  genre index into GenreNames, 255 for none
//
// Text fields hold the record's raw ISO-8859-1 bytes; nothing is converted here.
#pragma once

#include "platform/FileSystem.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace cantorell {

inline constexpr int GenreCount = 148;
// Indexed by the genre byte; bytes 148 to 255 name no genre.
extern const std::array<std::string_view, GenreCount> GenreNames;

// The index of the genre with this name, compared without regard to ASCII case; -1 when
// no genre has it.
int FindGenre(std::string_view name);

class TID3v1 {
public:
    static constexpr int RecordSize = 128;
    static constexpr uint8_t NoGenre = 255;
    static constexpr uint8_t Version10 = 1;
    static constexpr uint8_t Version11 = 2;

    // Uses `fs` for every file operation (tests pass one that fails on purpose).
    explicit TID3v1(TFileSystem& fs = TFileSystem::Default()) : Fs(fs) { ResetFields(); }

    void ResetFields();
    // True when the file's last 128 bytes could be read, whether or not they hold a tag.
    bool ReadFromFile(const std::string& path);
    // Writes the fields as the file's record, over the old record when there is one.
    // Holds the file's save lock, and fails when the file was read by this object and
    // has been changed by another program since.
    bool SaveToFile(const std::string& path);
    // Cuts the record off the file; true without change when the file has none.
    bool RemoveFromFile(const std::string& path);
    // Why the last save or removal failed, when the system's error alone does not say it.
    const std::string& FailureNote() const;

    bool Exists() const { return FExists; }
    uint8_t VersionID() const { return FVersionID; }
    const std::string& Title() const { return FTitle; }
    const std::string& Artist() const { return FArtist; }
    const std::string& Album() const { return FAlbum; }
    const std::string& Year() const { return FYear; }
    const std::string& Comment() const { return FComment; }
    uint8_t Track() const { return FTrack; }
    uint8_t GenreID() const { return FGenreID; }
    // The genre's name, empty for 148 to 255.
    std::string Genre() const;

    // The setters trim trailing bytes <= 0x20 from the first 255 bytes, then keep at most
    // the field's width (30 bytes, 4 for the year).
    void SetTitle(std::string_view text);
    void SetArtist(std::string_view text);
    void SetAlbum(std::string_view text);
    void SetYear(std::string_view text);
    void SetComment(std::string_view text);
    void SetTrack(uint8_t track) { FTrack = track; }
    void SetGenreID(uint8_t id) { FGenreID = id; }

private:
    using TRecord = std::array<uint8_t, RecordSize>;
    TRecord BuildRecord() const;

    TFileSystem& Fs;
    TReadStamp FRead;
    bool FExists = false;
    uint8_t FVersionID = Version10;
    std::string FTitle;
    std::string FArtist;
    std::string FAlbum;
    std::string FYear;
    std::string FComment;
    uint8_t FTrack = 0;
    uint8_t FGenreID = NoGenre;
};

} // namespace cantorell
