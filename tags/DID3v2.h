// The ID3v2 tag at the start of an MP3 file: reading versions 2.2, 2.3 and 2.4, writing
// version 2.3, and removing the tag.
//
// Reading fetches the header, then the whole tag with one read, and parses the frames from
// memory. Each known text frame fills one text slot (rows 0 to 21 of FrameIdTable);
// comments, lyrics and pictures go into their collections, and every other frame is kept
// raw in Frames_Unsupport, so that a save writes it back.
//
// Saving writes the tag in place when the old tag's space holds the new one and is at most
// MaxTagSpace bytes; otherwise the file is rebuilt through "<name>~", which is flushed and
// renamed over the original in one step, so the original is never lost.
#pragma once

#include "FrameLib.h"
#include "ID3v2Header.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cantorell {

class TFileSystem;

class TDID3v2 {
public:
    // The size of a padded tag after a rebuild, and the largest old tag reused in place.
    static constexpr int32_t MaxTagSpace = 40000;

    // Uses `fs` for every file operation (tests pass one that fails on purpose).
    explicit TDID3v2(TFileSystem& fs);
    TDID3v2();
    TDID3v2(const TDID3v2&) = delete;
    TDID3v2& operator=(const TDID3v2&) = delete;

    void ResetFields();
    // True when the file could be opened and its first ten bytes read, whether or not they
    // start a tag; Exists tells whether they did.
    bool ReadFromFile(const std::string& fileName);
    // Decodes the tag at the start of `head`, the first bytes of a file of `fileSize` bytes
    // (at least the whole tag when there is one). False when `head` is shorter than a header.
    bool ReadFromBytes(std::string_view head, int64_t fileSize);
    // Writes the fields and the collections as an ID3v2.3 tag. Sets PaddingSize.
    bool SaveToFile(const std::string& fileName);
    // Removes the tag; false when the file has none.
    bool RemoveFromFile(const std::string& fileName);

    std::string GetComment(int index) const;
    std::string GetLyrics(int index) const;
    // Replaces the text of the item at `index`, or appends a new item when there is none
    // there; returns the item's index.
    int SetComment(const std::string& text, int index);
    int SetLyrics(const std::string& text, int index);
    // The comment the window shows and edits: the first comment with an empty description.
    // Technical comments (iTunNORM, iTunSMPB) and notes carry one and are never taken; -1
    // when there is none, so that the comment shows empty and SetComment appends.
    int MainCommentIndex() const;

    // The text frames, comments, lyrics, pictures and unsupported frames as 2.3 frames,
    // in the order they are written. Fills the FrameText slots of `tag`.
    std::string BuildFrames(TagInfo& tag) const;
    // Decides between writing in place and rebuilding for `frameBytes` bytes of frames,
    // sets PaddingSize and MustRebuild and the header's size bytes. False when the content
    // is too large for an ID3v2 size field.
    bool BuildTagHeader(TagInfo& tag, int64_t frameBytes);
    // Header, frames and padding in memory, then written in place or through a rebuild.
    bool WriteTag(const std::string& fileName, TagInfo& tag);
    // Writes `tag` over the old tag's space at offset 0 and flushes it.
    bool WriteTagInPlace(const std::string& fileName, std::string_view tag);
    // Writes `tag` (none: the tag is removed) followed by the audio into "<name>~" and
    // renames it over the file.
    bool RebuildFile(const std::string& fileName, std::optional<std::string_view> tag);

    bool Exists = false;
    uint8_t VersionID = 0;
    int32_t TagSize = 0;
    int32_t PaddingSize = MaxTagSpace;
    std::string FileName;

    TFrameLib Frames_Unsupport;
    TFrameLib Frames_Images;
    TFrameLib Frames_Comments;
    TFrameLib Frames_Lyrics;

    // UTF-8 texts.
    std::string Title, Lyricist, EncodedBy, RightsNotice, Album, OrigLyricist, Artist, ModifiedBy,
        Conductor, ContentGroup, RecordingDates, OrigArtist, Genre, Band, Year, Languages, Subtitle,
        Composer, UserURL, Track, OrigAlbum;
    uint16_t BPM = 0;

private:
    // The field that row `row` (0 to 20) of FrameIdTable fills.
    std::string& RowText(int row);
    const std::string& RowText(int row) const;
    void ReadFrames(std::string_view frames, TagInfo& tag);
    void StoreFrame(std::string_view identifier, std::string_view body, uint16_t flags,
                    int32_t size, TagInfo& tag);

    TFileSystem& Fs;
    // The "TBPM" text as read. Some programs write a fraction ("120.5"), which BPM cannot
    // hold; while BPM still says what the text says, a save writes the text back unchanged.
    std::string BPMText;
};

} // namespace cantorell
