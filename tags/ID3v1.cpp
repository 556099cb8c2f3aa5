#include "ID3v1.h"

#include "platform/Ascii.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstring>

namespace cantorell {

const std::array<std::string_view, GenreCount> GenreNames = {"Blues",
                                                             "Classic Rock",
                                                             "Country",
                                                             "Dance",
                                                             "Disco",
                                                             "Funk",
                                                             "Grunge",
                                                             "Hip-Hop",
                                                             "Jazz",
                                                             "Metal",
                                                             "New Age",
                                                             "Oldies",
                                                             "Other",
                                                             "Pop",
                                                             "R&B",
                                                             "Rap",
                                                             "Reggae",
                                                             "Rock",
                                                             "Techno",
                                                             "Industrial",
                                                             "Alternative",
                                                             "Ska",
                                                             "Death Metal",
                                                             "Pranks",
                                                             "Soundtrack",
                                                             "Euro-Techno",
                                                             "Ambient",
                                                             "Trip-Hop",
                                                             "Vocal",
                                                             "Jazz+Funk",
                                                             "Fusion",
                                                             "Trance",
                                                             "Classical",
                                                             "Instrumental",
                                                             "Acid",
                                                             "House",
                                                             "Game",
                                                             "Sound Clip",
                                                             "Gospel",
                                                             "Noise",
                                                             "AlternRock",
                                                             "Bass",
                                                             "Soul",
                                                             "Punk",
                                                             "Space",
                                                             "Meditative",
                                                             "Instrumental Pop",
                                                             "Instrumental Rock",
                                                             "Ethnic",
                                                             "Gothic",
                                                             "Darkwave",
                                                             "Techno-Industrial",
                                                             "Electronic",
                                                             "Pop-Folk",
                                                             "Eurodance",
                                                             "Dream",
                                                             "Southern Rock",
                                                             "Comedy",
                                                             "Cult",
                                                             "Gangsta",
                                                             "Top 40",
                                                             "Christian Rap",
                                                             "Pop/Funk",
                                                             "Jungle",
                                                             "Native American",
                                                             "Cabaret",
                                                             "New Wave",
                                                             "Psychadelic",
                                                             "Rave",
                                                             "Showtunes",
                                                             "Trailer",
                                                             "Lo-Fi",
                                                             "Tribal",
                                                             "Acid Punk",
                                                             "Acid Jazz",
                                                             "Polka",
                                                             "Retro",
                                                             "Musical",
                                                             "Rock & Roll",
                                                             "Hard Rock",
                                                             "Folk",
                                                             "Folk-Rock",
                                                             "National Folk",
                                                             "Swing",
                                                             "Fast Fusion",
                                                             "Bebob",
                                                             "Latin",
                                                             "Revival",
                                                             "Celtic",
                                                             "Bluegrass",
                                                             "Avantgarde",
                                                             "Gothic Rock",
                                                             "Progessive Rock",
                                                             "Psychedelic Rock",
                                                             "Symphonic Rock",
                                                             "Slow Rock",
                                                             "Big Band",
                                                             "Chorus",
                                                             "Easy Listening",
                                                             "Acoustic",
                                                             "Humour",
                                                             "Speech",
                                                             "Chanson",
                                                             "Opera",
                                                             "Chamber Music",
                                                             "Sonata",
                                                             "Symphony",
                                                             "Booty Bass",
                                                             "Primus",
                                                             "Porn Groove",
                                                             "Satire",
                                                             "Slow Jam",
                                                             "Club",
                                                             "Tango",
                                                             "Samba",
                                                             "Folklore",
                                                             "Ballad",
                                                             "Power Ballad",
                                                             "Rhythmic Soul",
                                                             "Freestyle",
                                                             "Duet",
                                                             "Punk Rock",
                                                             "Drum Solo",
                                                             "A capella",
                                                             "Euro-House",
                                                             "Dance Hall",
                                                             "Goa",
                                                             "Drum & Bass",
                                                             "Club-House",
                                                             "Hardcore",
                                                             "Terror",
                                                             "Indie",
                                                             "BritPop",
                                                             "Negerpunk",
                                                             "Polsk Punk",
                                                             "Beat",
                                                             "Christian Gangsta Rap",
                                                             "Heavy Metal",
                                                             "Black Metal",
                                                             "Crossover",
                                                             "Contemporary Christian",
                                                             "Christian Rock",
                                                             "Merengue",
                                                             "Salsa",
                                                             "Trash Metal",
                                                             "Anime",
                                                             "JPop",
                                                             "Synthpop"};

namespace {

// Where a text field stands in the record, and its width.
struct TSpan {
    size_t At;
    size_t Width;
};
constexpr TSpan kTitle{3, 30};
constexpr TSpan kArtist{33, 30};
constexpr TSpan kAlbum{63, 30};
constexpr TSpan kYear{93, 4};
constexpr TSpan kComment{97, 30};
// In version 1.1 the comment's last two bytes hold a zero byte and the track number.
constexpr TSpan kShortComment{97, 28};
constexpr size_t kZeroByteAt = 125;
constexpr size_t kTrackAt = 126;
constexpr size_t kGenreAt = 127;
// A setter looks at no more of its text than this.
constexpr size_t kSetterInputLimit = 255;

using TRecord = std::array<uint8_t, TID3v1::RecordSize>;

bool HasMagic(const TRecord& record) {
    return record[0] == 'T' && record[1] == 'A' && record[2] == 'G';
}

// Removes trailing spaces, zero bytes and control bytes: writers pad fields with either.
std::string_view TrimRight(std::string_view text) {
    while (!text.empty() && static_cast<uint8_t>(text.back()) <= 0x20)
        text.remove_suffix(1);
    return text;
}

std::string Field(const TRecord& record, TSpan span) {
    const std::string_view raw(reinterpret_cast<const char*>(record.data()) + span.At, span.Width);
    return std::string(TrimRight(raw));
}

std::string Limited(std::string_view text, TSpan span) {
    text = TrimRight(text.substr(0, kSetterInputLimit));
    return std::string(text.substr(0, span.Width));
}

// A 1.1 record ends its comment with a zero byte and a track number. Some writers pad
// with spaces instead of zeros, so a space followed by a non-space counts as well.
uint8_t DetectTagVersion(const TRecord& record) {
    const uint8_t marker = record[kZeroByteAt];
    const uint8_t track = record[kTrackAt];
    if ((marker == 0 && track != 0) || (marker == 0x20 && track != 0x20))
        return TID3v1::Version11;
    return TID3v1::Version10;
}

// Reads the last 128 bytes of an open file; false when the file is shorter than that.
bool ReadLastRecord(TFile& file, int64_t& size, TRecord& record) {
    record.fill(0);
    return file.Size(size) && size >= TID3v1::RecordSize &&
           file.ReadExactAt(size - TID3v1::RecordSize, record.data(), TID3v1::RecordSize);
}

bool ReadTagRecord(TFileSystem& fs, const std::string& path, TRecord& record,
                   TFileStamp* stamp = nullptr) {
    auto file = fs.Open(path, TOpenMode::omReadOnly);
    int64_t size = 0;
    if (file && stamp)
        *stamp = file->Stamp();
    return file && ReadLastRecord(*file, size, record) && file->Close();
}

} // namespace

int FindGenre(std::string_view name) {
    for (int i = 0; i < GenreCount; ++i)
        if (SameIgnoringAsciiCase(GenreNames[i], name))
            return i;
    return -1;
}

void TID3v1::ResetFields() {
    FExists = false;
    FVersionID = Version10;
    FTitle.clear();
    FArtist.clear();
    FAlbum.clear();
    FYear.clear();
    FComment.clear();
    FTrack = 0;
    FGenreID = NoGenre;
}

bool TID3v1::ReadFromFile(const std::string& path) {
    ResetFields();
    TRecord record{};
    TFileStamp stamp;
    const bool read = ReadTagRecord(Fs, path, record, &stamp);
    FRead.Take(path, read ? stamp : TFileStamp{});
    if (!read)
        return false;
    if (!HasMagic(record))
        return true;
    FExists = true;
    FVersionID = DetectTagVersion(record);
    FTitle = Field(record, kTitle);
    FArtist = Field(record, kArtist);
    FAlbum = Field(record, kAlbum);
    FYear = Field(record, kYear);
    if (FVersionID == Version10) {
        FComment = Field(record, kComment);
    } else {
        FComment = Field(record, kShortComment);
        FTrack = record[kTrackAt];
    }
    FGenreID = record[kGenreAt];
    return true;
}

TID3v1::TRecord TID3v1::BuildRecord() const {
    TRecord record{};
    std::memcpy(record.data(), "TAG", 3);
    const auto put = [&record](TSpan span, const std::string& text) {
        std::memcpy(record.data() + span.At, text.data(), std::min(text.size(), span.Width));
    };
    put(kTitle, FTitle);
    put(kArtist, FArtist);
    put(kAlbum, FAlbum);
    put(kYear, FYear);
    put(kComment, FComment);
    // A track number turns the record into version 1.1: it takes the last two comment bytes.
    if (FTrack > 0) {
        record[kZeroByteAt] = 0;
        record[kTrackAt] = FTrack;
    }
    record[kGenreAt] = FGenreID;
    return record;
}

// The new record is written over the old one when there is one (the file keeps its length)
// and appended otherwise. If anything fails, the file is put back as it was: the old record
// is written again, or the appended bytes are cut off, so a failed save never costs the
// file its tag.
const std::string& TID3v1::FailureNote() const {
    return Fs.FailureNote();
}

bool TID3v1::SaveToFile(const std::string& path) {
    const auto lock = FRead.LockUnchanged(Fs, path);
    TRecord old{};
    if (!lock || !ReadTagRecord(Fs, path, old))
        return false;
    // A read-only file is saved all the same and keeps its permission bits.
    auto file = Fs.OpenForUpdate(path);
    int64_t size = 0;
    if (!file || !ReadLastRecord(*file, size, old))
        return false;
    const TRecord record = BuildRecord();
    const bool replace = HasMagic(old);
    const int64_t at = replace ? size - RecordSize : size;
    // Once flushed, the record is on the disk: a close that reports an error then changes
    // nothing, and the save must not be reported as failed while the file holds it.
    if (file->WriteAt(at, record.data(), RecordSize) && file->Flush()) {
        FRead.Refresh(Fs, path);
        file->Close();
        return true;
    }
    if (replace)
        file->WriteAt(at, old.data(), RecordSize);
    else
        file->Truncate(size);
    file->Flush();
    return false;
}

bool TID3v1::RemoveFromFile(const std::string& path) {
    const auto lock = FRead.LockUnchanged(Fs, path);
    TRecord record{};
    if (!lock || !ReadTagRecord(Fs, path, record))
        return false;
    if (!HasMagic(record))
        return true;
    auto file = Fs.OpenForUpdate(path);
    int64_t size = 0;
    // The record is checked again through the handle that cuts, so a file that changed in
    // between never loses 128 bytes that are not a tag.
    if (!file || !ReadLastRecord(*file, size, record))
        return false;
    if (!HasMagic(record))
        return file->Close();
    if (!file->Truncate(size - RecordSize))
        return false;
    if (file->Flush()) {
        FRead.Refresh(Fs, path);
        file->Close();
        return true;
    }
    // The cut may not have reached the disk: put the record back rather than leave the
    // file in an unknown state while reporting failure.
    file->WriteAt(size - RecordSize, record.data(), RecordSize);
    file->Flush();
    return false;
}

std::string TID3v1::Genre() const {
    return FGenreID < GenreCount ? std::string(GenreNames[FGenreID]) : std::string();
}

void TID3v1::SetTitle(std::string_view text) {
    FTitle = Limited(text, kTitle);
}
void TID3v1::SetArtist(std::string_view text) {
    FArtist = Limited(text, kArtist);
}
void TID3v1::SetAlbum(std::string_view text) {
    FAlbum = Limited(text, kAlbum);
}
void TID3v1::SetYear(std::string_view text) {
    FYear = Limited(text, kYear);
}
void TID3v1::SetComment(std::string_view text) {
    FComment = Limited(text, kComment);
}

} // namespace cantorell
