// The ID3v2 tag at the start of an MP3 file: reading versions 2.2, 2.3 and 2.4, writing
// versions 2.3 and 2.4, and removing the tag.
//
// Reading fetches the start of the file, which usually holds the whole tag, in one read and
// walks the frames from memory, reading on in chunks where the tag is longer. A large
// picture body is passed over: only its first bytes are read (its MIME type, description
// and the image's header), and the image is read from the file when it is wanted. Each known text
// frame fills one text slot (rows 0 to 21 of FrameIdTable); comments, lyrics and pictures go into
// their collections, and every other frame is kept in Frames_Unsupport. The frames as they stand in
// the tag are kept as well.
//
// A save changes only what the caller changed. It keeps the tag's version (a 2.2 tag
// becomes 2.3) and writes every frame whose value is unchanged back byte for byte, in its
// place: its flags, its encoding, compression and all. Only a changed value is encoded
// afresh, and a new one is added behind the frames read. The tag is laid out anew
// (header, frames, zero padding); an extended header, a footer and tag-wide
// unsynchronisation are not written.
//
// The tag's bytes come from a pure render step (Render); the file work is apart from it.
// The tag is written in place when it fits the old tag's space and leaves at most
// MaxTagSpace bytes of padding; otherwise the file is rebuilt through "<name>~", which is
// flushed and renamed over the original in one step, so the original is never lost.
#pragma once

#include "FrameLib.h"
#include "ID3v2Header.h"
#include "Picture.h"
#include "ReadBuffer.h"
#include "platform/FileSystem.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cantorell {

class TDID3v2 {
public:
    // The size of a padded tag after a rebuild, and the most padding a write in place may
    // leave.
    static constexpr int32_t MaxTagSpace = 40000;

    // Uses `fs` for every file operation (tests pass one that fails on purpose).
    explicit TDID3v2(TFileSystem& fs = TFileSystem::Default()) : Fs(fs) { ResetFields(); }
    TDID3v2(const TDID3v2&) = delete;
    TDID3v2& operator=(const TDID3v2&) = delete;

    void ResetFields();
    // True when the file could be opened and its first ten bytes read, whether or not they
    // start a tag; Exists tells whether they did.
    bool ReadFromFile(const std::string& fileName);
    // Decodes the tag at the start of `head`, the first bytes of a file of `fileSize` bytes
    // (at least the whole tag when there is one). False when `head` is shorter than a header.
    bool ReadFromBytes(std::string_view head, int64_t fileSize);
    // Writes the fields and the collections as a tag of SaveVersion(). Sets PaddingSize.
    // Saves and removals hold the file's save lock, and fail when this object read the file
    // and another program has changed it since.
    bool SaveToFile(const std::string& fileName);
    // Removes every ID3v2 tag at the start of the file; false when it has none.
    bool RemoveFromFile(const std::string& fileName);
    // Why the last save or removal failed, when the system's error alone does not say it
    // (the file changed meanwhile, another program is saving it, a recovery copy was kept).
    const std::string& FailureNote() const;

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

    // A picture of Frames_Images, described from its frame and the image's header alone.
    struct TPictureInfo {
        int Item = -1; // its index in Frames_Images
        uint8_t Type = 0;
        std::string Mime;        // as the frame names it
        std::string Description; // UTF-8
        int64_t Bytes = 0;       // the image's size
        int Width = 0;           // 0 when the image's header does not say
        int Height = 0;
        bool Valid = false; // the frame's fields could be read (else only Bytes is set)
    };
    // The pictures a save writes, in tag order (removed ones are left out).
    std::vector<TPictureInfo> Pictures() const;
    // The image bytes of Frames_Images item `item`, unchanged; false when there are none.
    bool PictureData(int item, std::string& image) const;
    // Where a picture's image bytes are, as a value that may be handed to another thread
    // and outlive this object: what LoadPicture needs to fetch them later.
    // Either the bytes themselves (a picture added or replaced here, or one whose body had
    // to be unpacked), or where they stand in a file, with the file's stamp at the read: a
    // file that has changed since is not taken to hold them any more.
    struct TPictureRef {
        std::shared_ptr<const std::string> Bytes;
        std::string Path;
        TFileStamp Stamp;
        int64_t Offset = 0;
        int64_t Size = 0;
    };
    // The reference for Frames_Images item `item`; one that loads nothing when there is no
    // picture there.
    TPictureRef PictureRef(int item) const;
    // The image bytes `ref` names, unchanged. Safe on any thread. False when there are none
    // or they can no longer be read as they were.
    static bool LoadPicture(const TPictureRef& ref, std::string& image);
    // The picture shown first: the first front cover, else the first picture; -1 when none.
    int MainPicture() const;
    // The same, of a list Pictures() gave, for a caller that has one already.
    static int MainPicture(const std::vector<TPictureInfo>& pictures);
    // New pictures are written as "APIC" frames in the save's version, with the MIME type
    // that the image's bytes give (never its file name). Each returns false (and changes
    // nothing) when `image` is no JPEG, PNG, GIF, WebP or BMP image.
    bool AddPicture(uint8_t type, std::string_view description, std::string_view image);
    bool ReplacePicture(int item, uint8_t type, std::string_view description,
                        std::string_view image);
    // Replaces the first picture of `type` and removes the others of that type, or adds the
    // picture when the tag has none of that type.
    bool SetPicture(uint8_t type, std::string_view description, std::string_view image);
    void RemovePicture(int item);
    void RemovePictures();

    // The identifiers of the frames read, in the order they stand in the tag.
    std::vector<std::string> FrameIDs() const;

    // The major version a save writes: 4 for a tag read as 2.4, else 3 (a 2.2 tag is
    // converted, and a file without a tag gets 2.3).
    uint8_t SaveVersion() const;
    // The frames a save writes, in order: every frame read, in its place, written back as
    // it was read unless its value was changed (then encoded afresh) or emptied (then left
    // out); then the new ones. No file access: the body of a picture that the read passed
    // over is not in the bytes but named in `ranges`.
    // A stretch of the tag that a save copies from the file read rather than holding it.
    struct TFileRange {
        size_t At = 0;      // where it goes in the bytes rendered (which leave it out)
        int64_t Offset = 0; // where it stands in the file read
        int64_t Size = 0;
        int Frame = -1; // the read frame whose body it is
    };
    std::string BuildFrames(std::vector<TFileRange>& ranges) const;

    struct TRenderedTag {
        // Header, frames and padding, but for the ranges, which go in at their places.
        std::string Bytes;
        std::vector<TFileRange> Ranges;
        bool InPlace = false; // the bytes exactly replace the old tag, which they fit
        int32_t Padding = 0;  // zero bytes after the frames; negative when the content is
                              // larger than a rebuilt tag's standard size
    };
    // The whole tag a save writes into a file whose current header is `current` (zero-
    // filled when the file has no tag). Pure: the object's state to bytes. False when the
    // content is too large for an ID3v2 size field.
    bool Render(const TagInfo& current, TRenderedTag& out) const;
    // Renders the tag for the file whose header is `tag`, sets PaddingSize and MustRebuild,
    // then writes it in place or through a rebuild.
    bool WriteTag(const std::string& fileName, TagInfo& tag);
    // Writes `tag` (with `ranges` taken from the old tag's bytes) over the old tag's space at
    // offset 0 and flushes it; writes only the blocks whose bytes differ.
    bool WriteTagInPlace(const std::string& fileName, std::string_view tag,
                         const std::vector<TFileRange>& ranges = {});
    // Writes `tag` (with `ranges` copied from the file) followed by the audio into a new
    // file that takes the file's place. With no tag (removal) every ID3v2 tag stacked at the
    // start of the file is left out.
    bool RebuildFile(const std::string& fileName, std::optional<std::string_view> tag,
                     const std::vector<TFileRange>& ranges = {});

    // A tag is read up to this many frames; a tag of more (a hostile file can pack a million
    // one-byte frames into 11 MB) keeps the first ones and counts the rest in
    // FramesIgnored, and such a tag is not saved, as the save would lose the rest.
    static constexpr int MaxFrames = 16384;
    int32_t FramesIgnored = 0;

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
    // Where a frame read from the tag went.
    enum class TFrameHome : uint8_t { fhSlot, fhComments, fhLyrics, fhImages, fhUnsupport };
    struct TReadFrame {
        std::string Id;
        uint16_t Flags = 0;
        // The body as it stands in the tag (flags' extra bytes, compression and 2.4
        // unsynchronisation included), in FReadBytes: its first Size bytes when the read
        // passed over the rest.
        size_t Offset = 0;
        size_t Size = 0;
        // Where the whole body stands in the file read; -1 when the bytes read were
        // transformed (tag-wide unsynchronisation) or came from memory.
        int64_t FileOffset = -1;
        int64_t FileSize = 0;
        TFrameHome Home = TFrameHome::fhUnsupport;
        // The slot's row, or the item's index in its collection.
        int Index = -1;
    };

    // The text field that row `row` (0 to 20) of FrameIdTable fills.
    std::string& RowText(int row);
    const std::string& RowText(int row) const;
    bool Parse(int64_t fileSize);
    void DecodeSlots(TagInfo& tag);
    bool Fetch(size_t count, size_t end);
    bool LandsOnFrame(uint64_t next, size_t end);
    bool FrameHeaderAt(size_t pos, size_t end, int version, uint64_t& size, uint16_t& flags);
    size_t PassOver(const TReadFrame& frame, size_t& end);
    void ReadFrames(size_t begin, size_t end, TagInfo& tag);
    void StoreFrame(int frame, std::optional<std::string>&& content, TagInfo& tag);
    bool TakesUserURLSlot(std::string_view body, const TagInfo& tag);
    void AddUnsupported(int frame, std::string data);
    std::string_view StoredBody(const TReadFrame& frame) const;
    // The frame's content as the reader took it: unpacked, or as stored when it cannot be.
    std::string ReadContent(const TReadFrame& frame) const;
    const TFrameLib* HomeLib(TFrameHome home) const;
    bool ItemChanged(const TFrameItem& item, const TReadFrame& frame) const;
    void AppendItem(std::string& out, const TFrameItem& item, TFrameHome home) const;
    void AppendStored(std::string& out, int index, std::vector<TFileRange>& ranges) const;
    void AppendNew(std::string& out, const std::array<std::string, TextSlotCount>& fresh,
                   const std::array<bool, TextSlotCount>& changed) const;
    bool StaleDuplicate(std::string_view id, const std::array<bool, TextSlotCount>& changed) const;
    bool LoadPassedOver();
    // Whether the frame's body is stored as its content: no flag changes the bytes.
    bool StoredPlain(const TReadFrame& frame) const;
    // The frame a picture was read from, while the item still holds it as read.
    const TReadFrame* UnchangedPicture(int item) const;
    void Reanchor(const std::string& fileName, const std::vector<TFileRange>& ranges);

    TFileSystem& Fs;
    TReadStamp FRead;
    std::string FNote;

    // What a save needs to write back unchanged frames as they were read.
    // The tag's frames (after undoing 2.3 unsynchronisation), but for the parts of picture
    // bodies passed over.
    TReadBuffer FReadBytes;
    // While a file is read: the file, and how many of its bytes were passed over, so that
    // FReadBytes' offset N stands at N + FSkipped in the file.
    TFile* FSource = nullptr;
    int64_t FSkipped = 0;
    // A read of the tag's bytes failed: a save would lose the frames not read.
    bool FReadShort = false;
    bool FReadRaw = false;    // FReadBytes are the file's bytes from offset 0
    uint8_t FReadVersion = 0; // major version of the tag read (2 to 4); 0 when none was
    uint8_t FReadRevision = 0;
    uint8_t FReadFlags = 0;
    std::vector<TReadFrame> FReadFrames;
    std::array<int, TextSlotCount> FSlotFrame{};      // the frame that filled each slot, -1
    std::array<std::string, TextSlotCount> FReadText; // each slot's text as read
    uint16_t FReadBPM = 0;
    std::string FUserURLDescription;
};

} // namespace cantorell
