#include "DID3v2.h"

#include "ID3v2Frames.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <utility>

namespace cantorell {

namespace {

constexpr size_t V22FrameHeaderSize = 6;
constexpr size_t FrameHeaderSize = 10;

// In a 2.2 header, 0x40 marks a compressed tag, for which no scheme was ever defined.
constexpr uint8_t V22TagCompressed = 0x40;

uint8_t Byte(std::string_view s, size_t at) {
    return static_cast<uint8_t>(s[at]);
}

// The first read behind the header and each read after it; a tag without large pictures is
// usually read whole with the first.
constexpr size_t ReadChunk = 16 * 1024;
// A picture body up to this size is read with the rest of the tag and held in its item's
// Data like every other frame body; only larger ones are passed over, where skipping the
// bytes saves more than the small reads it takes.
constexpr size_t PassOverSize = 128 * 1024;
// What is kept of a picture body passed over: the MIME type, the description, and enough
// of the image for its pixel size (a JPEG's frame header stands behind its tables).
constexpr size_t PictureHeadSize = 2048;

// Whether the bytes at the end of a 2.4 frame are something a tag can hold there: padding
// or another frame header. (The end of the frames is checked by the caller.)
bool IsFrameStart(std::string_view at) {
    if (!at.empty() && Byte(at, 0) == 0)
        return true;
    if (at.size() < FrameHeaderSize)
        return false;
    for (size_t i = 0; i < 4; ++i) {
        if (!IsFrameIdChar(Byte(at, i)))
            return false;
    }
    return true;
}

// A 2.4 frame size is synchsafe; some old writers stored a plain number instead. The plain
// reading is taken only when the synchsafe one leads nowhere and the plain one does.
template <typename TLands>
uint64_t FrameSizeV24(const uint8_t* b, uint64_t bodyStart, const TLands& landsOnFrame) {
    const uint64_t plain = BigEndian32(b);
    if ((b[0] | b[1] | b[2] | b[3]) & 0x80)
        return plain;
    const uint64_t synchsafe =
        (uint64_t{b[0]} << 21) | (uint64_t{b[1]} << 14) | (uint64_t{b[2]} << 7) | b[3];
    if (synchsafe == plain)
        return synchsafe;
    if (!landsOnFrame(bodyStart + synchsafe) && landsOnFrame(bodyStart + plain))
        return plain;
    return synchsafe;
}

// The frames that the tag object reads into its fields and collections, one row each: the
// identifiers in versions 2.2, 2.3 and 2.4 ("----" where the version has none), and the
// text field that the frame fills. The beats per minute are a number, and comments,
// lyrics and pictures go into their collections (rows 22 to 24), so those rows name no
// field.
struct TFrameRow {
    std::array<std::string_view, 3> Ids;
    std::string TDID3v2::*Field;
};
constexpr std::array<TFrameRow, FrameRowCount> FrameRows = {{
    {{"TAL", "TALB", "TALB"}, &TDID3v2::Album},
    {{"TP1", "TPE1", "TPE1"}, &TDID3v2::Artist},
    {{"TT2", "TIT2", "TIT2"}, &TDID3v2::Title},
    {{"TRK", "TRCK", "TRCK"}, &TDID3v2::Track},
    {{"TYE", "TYER", "TDRC"}, &TDID3v2::Year},
    {{"TCO", "TCON", "TCON"}, &TDID3v2::Genre},
    {{"TXT", "TEXT", "TEXT"}, &TDID3v2::Lyricist},
    {{"TEN", "TENC", "TENC"}, &TDID3v2::EncodedBy},
    {{"TLA", "TLAN", "TLAN"}, &TDID3v2::Languages},
    {{"TCR", "TCOP", "TCOP"}, &TDID3v2::RightsNotice},
    {{"TCM", "TCOM", "TCOM"}, &TDID3v2::Composer},
    {{"WXX", "WXXX", "WXXX"}, &TDID3v2::UserURL},
    {{"TOL", "TOLY", "TOLY"}, &TDID3v2::OrigLyricist},
    {{"TOA", "TOPE", "TOPE"}, &TDID3v2::OrigArtist},
    {{"TOT", "TOAL", "TOAL"}, &TDID3v2::OrigAlbum},
    {{"TT1", "TIT1", "TIT1"}, &TDID3v2::ContentGroup},
    {{"TT3", "TIT3", "TIT3"}, &TDID3v2::Subtitle},
    {{"TRD", "TRDA", "----"}, &TDID3v2::RecordingDates},
    {{"TP2", "TPE2", "TPE2"}, &TDID3v2::Band},
    {{"TP3", "TPE3", "TPE3"}, &TDID3v2::Conductor},
    {{"TP4", "TPE4", "TPE4"}, &TDID3v2::ModifiedBy},
    {{"TBP", "TBPM", "TBPM"}, nullptr}, // BPM
    {{"COM", "COMM", "COMM"}, nullptr}, // Frames_Comments
    {{"ULT", "USLT", "USLT"}, nullptr}, // Frames_Lyrics
    {{"PIC", "APIC", "APIC"}, nullptr}, // Frames_Images
}};

constexpr std::array<std::array<std::string_view, 3>, FrameRowCount> IdColumns() {
    std::array<std::array<std::string_view, 3>, FrameRowCount> ids{};
    for (size_t row = 0; row < ids.size(); ++row)
        ids[row] = FrameRows[row].Ids;
    return ids;
}

} // namespace

const std::array<std::array<std::string_view, 3>, FrameRowCount> FrameIdTable = IdColumns();

int FindFrameRow(std::string_view id, int majorVersion) {
    // Identifiers begin with a letter, so the "----" placeholder matches nothing.
    if (majorVersion < 2 || majorVersion > 4 || id.empty() || id[0] < 'A' || id[0] > 'Z')
        return -1;
    for (int row = 0; row < FrameRowCount; ++row) {
        if (FrameIdTable[row][majorVersion - 2] == id)
            return row;
    }
    return -1;
}

void TDID3v2::ResetFields() {
    Exists = false;
    VersionID = 0;
    TagSize = 0;
    PaddingSize = MaxTagSpace;
    FileName.clear();
    for (int row = 0; row < RowBPM; ++row)
        RowText(row).clear();
    BPM = 0;
    FReadBytes.Clear();
    FReadRaw = false;
    FSource = nullptr;
    FSkipped = 0;
    FReadShort = false;
    FReadVersion = 0;
    FReadRevision = 0;
    FReadFlags = 0;
    FReadFrames.clear();
    FramesIgnored = 0;
    FSlotFrame.fill(-1);
    for (std::string& text : FReadText)
        text.clear();
    FReadBPM = 0;
    FUserURLDescription.clear();
    Frames_Unsupport.Clear();
    Frames_Images.Clear();
    Frames_Comments.Clear();
    Frames_Lyrics.Clear();
}

std::string& TDID3v2::RowText(int row) {
    return const_cast<std::string&>(std::as_const(*this).RowText(row));
}

const std::string& TDID3v2::RowText(int row) const {
    return this->*FrameRows[static_cast<size_t>(std::clamp(row, 0, RowBPM - 1))].Field;
}

bool TDID3v2::ReadFromFile(const std::string& fileName) {
    ResetFields();
    FileName = fileName;
    FRead.Take(fileName, {});
    // One open for the whole read. The header says how much to read; the walk over the
    // frames then reads the tag in chunks as it goes (a tag without large pictures usually
    // in one read). Sizes are checked against the file's size, so nothing beyond the bytes
    // on disk is allocated; a failed read leaves what was read before it, and the tag then
    // shows the frames read so far (and refuses a save, which would lose the rest).
    auto file = Fs.Open(fileName, TOpenMode::omReadOnly);
    int64_t fileSize = 0;
    if (!file || !file->ReadExactAt(0, FReadBytes.Extend(TagHeaderSize), TagHeaderSize) ||
        !file->Size(fileSize))
        return false;
    FSource = file.get();
    Parse(fileSize);
    FSource = nullptr;
    FRead.Take(fileName, file->Stamp());
    return true;
}

bool TDID3v2::ReadFromBytes(std::string_view head, int64_t fileSize) {
    std::string fileName = std::move(FileName);
    ResetFields();
    FileName = std::move(fileName);
    FReadBytes.Assign(head);
    return Parse(fileSize);
}

bool TDID3v2::Parse(int64_t fileSize) {
    if (FReadBytes.Size() < static_cast<size_t>(TagHeaderSize))
        return false;
    TagInfo tag;
    tag.SetHeaderBytes(reinterpret_cast<const uint8_t*>(FReadBytes.Data()));
    tag.FileSize = fileSize;
    if (!tag.HasIdentifier())
        return true;
    Exists = true;
    VersionID = tag.MajorVersion;
    TagSize = TagTotalSize(tag);
    if (tag.MajorVersion < 2 || tag.MajorVersion > 4)
        return true;
    // A save keeps the version even when no frame can be read.
    FReadVersion = tag.MajorVersion;
    FReadRevision = tag.RevisionNumber;
    FReadFlags = tag.Flags;
    if (TagSize <= 0 || (tag.MajorVersion == 2 && (tag.Flags & V22TagCompressed)))
        return true;

    // The frames lie between the header and the padding's end; a 2.4 footer follows them.
    size_t end = static_cast<size_t>(TagSize);
    if (tag.Flags & TagFlagFooter)
        end -= TagHeaderSize;
    if (!FSource)
        end = std::min(end, FReadBytes.Size());
    size_t begin = TagHeaderSize;
    // The frames stay in memory as read, so that a save can write back what is unchanged.
    // In 2.2 and 2.3 unsynchronisation covers the whole tag after the header, the extended
    // header included, which is then read in one piece; in 2.4 it is undone frame by frame.
    if (tag.MajorVersion < 4 && (tag.Flags & TagFlagUnsynchronisation)) {
        Fetch(end, end);
        end = std::min(end, FReadBytes.Size());
        const std::string frames =
            RemoveUnsynchronisation(FReadBytes.View().substr(begin, end - begin));
        FReadBytes.Assign(frames);
        FSource = nullptr;
        begin = 0;
        end = FReadBytes.Size();
    } else {
        FReadRaw = true;
    }
    if (tag.MajorVersion > 2 && (tag.Flags & TagFlagExtendedHeader)) {
        // 2.3: a 4-byte size that excludes itself. 2.4: a synchsafe size that includes it.
        if (!Fetch(begin + 4, end))
            return true;
        const auto* b = reinterpret_cast<const uint8_t*>(FReadBytes.Data() + begin);
        const uint64_t skip = tag.MajorVersion == 3
                                  ? uint64_t{BigEndian32(b)} + 4
                                  : (uint64_t{b[0] & 0x7Fu} << 21) |
                                        (uint64_t{b[1] & 0x7Fu} << 14) |
                                        (uint64_t{b[2] & 0x7Fu} << 7) | (b[3] & 0x7Fu);
        if (skip > end - begin)
            return true;
        begin += static_cast<size_t>(skip);
    }
    ReadFrames(begin, end, tag);
    DecodeSlots(tag);
    return true;
}

void TDID3v2::DecodeSlots(TagInfo& tag) {
    for (int row = 0; row < RowBPM; ++row) {
        const std::string& body = tag.FrameText[row];
        if (row == RowGenre)
            RowText(row) = DecodeGenreText(body);
        else if (row == RowUserURL)
            RowText(row) = DecodeUserURL(body);
        else
            RowText(row) = DecodeFrameText(body);
        FReadText[row] = RowText(row);
    }
    FUserURLDescription = DecodeDescribed(tag.FrameText[RowUserURL], false).Description;
    BPM = static_cast<uint16_t>(ParseFrameNumber(DecodeFrameText(tag.FrameText[RowBPM])));
    FReadBPM = BPM;
    for (TFrameLib* frames : {&Frames_Lyrics, &Frames_Comments}) {
        for (int i = 0; i < frames->Count(); ++i) {
            TFrameItem& item = frames->Items(i);
            TDescribedText text = DecodeDescribed(item.Data, true);
            item.Data = std::move(text.Text);
            item.Language = std::move(text.Language);
            item.Description = std::move(text.Description);
        }
    }
}

// Makes FReadBytes hold at least `count` bytes, reading on from the file while one is
// being read. False when they lie beyond `end` or cannot be read.
bool TDID3v2::Fetch(size_t count, size_t end) {
    const size_t have = FReadBytes.Size();
    if (count > end)
        return false;
    if (count <= have)
        return true;
    if (!FSource)
        return false;
    // Reads on in chunks, so that a run of small frames costs one read.
    const size_t want = std::min(end, std::max(count, have + ReadChunk));
    char* at = FReadBytes.Extend(want);
    const int64_t got = FSource->ReadAt(static_cast<int64_t>(have) + FSkipped, at,
                                        static_cast<int64_t>(want - have));
    FReadBytes.Truncate(have + static_cast<size_t>(std::max<int64_t>(got, 0)));
    // The tag's size was checked against the file's: bytes missing within it mean a failed
    // read or a file cut meanwhile, and the frames behind them are not known.
    FReadShort = FReadShort || FReadBytes.Size() < want;
    return FReadBytes.Size() >= count;
}

// Whether a 2.4 frame that ends at `next` is followed by the end of the frames, padding or
// another frame header. Bytes not read yet are looked at with a small read of their own,
// so that a body passed over is not read to check where it ends.
bool TDID3v2::LandsOnFrame(uint64_t next, size_t end) {
    if (next == end)
        return true;
    if (next > end)
        return false;
    const size_t count = std::min<size_t>(end - next, FrameHeaderSize);
    if (next + count <= FReadBytes.Size())
        return IsFrameStart(FReadBytes.View().substr(next, count));
    char peek[FrameHeaderSize];
    if (!FSource)
        return false;
    if (!FSource->ReadExactAt(static_cast<int64_t>(next) + FSkipped, peek,
                              static_cast<int64_t>(count))) {
        FReadShort = true;
        return false;
    }
    return IsFrameStart(std::string_view(peek, count));
}

// The header of the frame at `pos`, whose bytes are in FReadBytes. False for padding (zero
// bytes) or anything that is not a frame: an identifier is a capital letter followed by
// capitals and digits, and what follows a header with any other is no frame that a tag
// could be written back with.
bool TDID3v2::FrameHeaderAt(size_t pos, size_t end, int version, uint64_t& size, uint16_t& flags) {
    const std::string_view frames = FReadBytes.View();
    const std::string_view id = frames.substr(pos, version == 2 ? 3 : 4);
    if (Byte(frames, pos) < 'A' || Byte(frames, pos) > 'Z' ||
        !std::all_of(id.begin(), id.end(),
                     [](char c) { return IsFrameIdChar(static_cast<uint8_t>(c)); }))
        return false;
    const auto* b = reinterpret_cast<const uint8_t*>(frames.data() + pos + id.size());
    flags = 0;
    if (version == 2) {
        size = (uint64_t{b[0]} << 16) | (uint64_t{b[1]} << 8) | b[2];
        return true;
    }
    size = version == 4 ? FrameSizeV24(b, pos + FrameHeaderSize,
                                       [&](uint64_t next) { return LandsOnFrame(next, end); })
                        : BigEndian32(b);
    flags = static_cast<uint16_t>(b[4] | (b[5] << 8));
    return true;
}

// A large picture body stored plain, of which the bytes read so far hold only the start, is
// passed over: its first bytes are kept, and the walk reads on behind it in the file. The
// size kept is returned (the whole size when the body is read).
size_t TDID3v2::PassOver(const TReadFrame& frame, size_t& end) {
    const size_t bodyStart = frame.Offset;
    const auto size = static_cast<size_t>(frame.FileSize);
    if (!FSource || !FReadRaw || size <= PassOverSize || bodyStart + size <= FReadBytes.Size() ||
        frame.Id != "APIC" || !StoredPlain(frame))
        return size;
    TPictureFrame fields;
    if (!Fetch(bodyStart + PictureHeadSize, end) ||
        !ParsePictureFrame(FReadBytes.View().substr(bodyStart, PictureHeadSize), false, fields))
        return size;
    FReadBytes.Truncate(bodyStart + PictureHeadSize);
    const size_t passed = size - PictureHeadSize;
    FSkipped += static_cast<int64_t>(passed);
    end -= passed;
    return PictureHeadSize;
}

void TDID3v2::ReadFrames(size_t begin, size_t end, TagInfo& tag) {
    const int version = tag.MajorVersion;
    const bool tagUnsynchronised = version == 4 && (tag.Flags & TagFlagUnsynchronisation);
    const size_t headerSize = version == 2 ? V22FrameHeaderSize : FrameHeaderSize;
    size_t pos = begin;
    uint64_t size = 0;
    uint16_t flags = 0;
    while (Fetch(pos + headerSize, end) && FrameHeaderAt(pos, end, version, size, flags)) {
        const size_t bodyStart = pos + headerSize;
        // A body that would reach past the tag is not a frame of it: stop rather than take
        // bytes of the audio.
        if (size > end - bodyStart)
            break;
        pos = bodyStart + static_cast<size_t>(size);
        if (size == 0)
            continue;
        if (FReadFrames.size() >= static_cast<size_t>(MaxFrames)) {
            ++FramesIgnored;
            continue;
        }

        TReadFrame frame;
        frame.Id =
            std::string(FReadBytes.View().substr(bodyStart - headerSize, version == 2 ? 3 : 4));
        frame.Flags = flags;
        frame.Offset = bodyStart;
        frame.FileOffset = FReadRaw ? static_cast<int64_t>(bodyStart) + FSkipped : -1;
        frame.FileSize = static_cast<int64_t>(size);
        frame.Size = PassOver(frame, end);
        pos = bodyStart + frame.Size;
        if (!Fetch(pos, end))
            break;
        FReadFrames.push_back(std::move(frame));
        const std::string_view body = StoredBody(FReadFrames.back());
        // An encrypted body, or one that does not inflate, cannot be read; it is kept as
        // stored among the unsupported frames and written back so.
        // The body is copied once, here, and moved on into its slot or item.
        std::optional<std::string> content =
            version == 2
                ? std::optional<std::string>(body)
                : UnpackFrameBody(body, static_cast<uint8_t>(version), flags, tagUnsynchronised);
        StoreFrame(static_cast<int>(FReadFrames.size()) - 1, std::move(content), tag);
    }
}

void TDID3v2::StoreFrame(int frame, std::optional<std::string>&& content, TagInfo& tag) {
    TReadFrame& read = FReadFrames[static_cast<size_t>(frame)];
    if (!content) {
        AddUnsupported(frame, std::string(StoredBody(read)));
        return;
    }
    std::string& body = *content;
    int row = FindFrameRow(read.Id, tag.MajorVersion);
    // Some writers put the year frame of the other version into a tag ("TDRC" into 2.3,
    // "TYER" into 2.4). It shows the year while the tag has no frame of its own version for
    // it, and like a duplicate it goes when the year is changed.
    const bool otherYear =
        row < 0 && tag.MajorVersion > 2 && FindFrameRow(read.Id, 7 - tag.MajorVersion) == RowYear;
    if (otherYear) {
        row = RowYear;
        if (FSlotFrame[RowYear] >= 0 && !body.empty() && Byte(body, 0) <= teUtf8) {
            read.Home = TFrameHome::fhSlot;
            read.Index = RowYear;
            return;
        }
    }
    if (row >= 0 && row <= RowBPM) {
        if (!body.empty() && Byte(body, 0) <= teUtf8 &&
            (row != RowUserURL || TakesUserURLSlot(body, tag))) {
            // A later frame with the same identifier replaces an earlier one, which stays
            // in its place in the tag until the slot is changed.
            tag.FrameText[row] = std::move(body);
            read.Home = TFrameHome::fhSlot;
            read.Index = row;
            FSlotFrame[row] = frame;
            return;
        }
    } else if (row >= RowComments) {
        const TFrameHome home = row == RowComments ? TFrameHome::fhComments
                                : row == RowLyrics ? TFrameHome::fhLyrics
                                                   : TFrameHome::fhImages;
        TFrameItem& item = const_cast<TFrameLib*>(HomeLib(home))->Add();
        item.FrameID = read.Id;
        item.FrameSize = static_cast<int32_t>(read.FileSize);
        item.FrameFlags = read.Flags;
        item.Data = std::move(body);
        item.ReadFrame = frame;
        read.Home = home;
        read.Index = item.Index();
        return;
    }
    AddUnsupported(frame, std::move(body));
}

// Several "WXXX" frames may stand side by side, told apart by their descriptions. The slot
// takes the first with an empty description (or the first of all when none has one); the
// others are kept among the unsupported frames.
bool TDID3v2::TakesUserURLSlot(std::string_view body, const TagInfo& tag) {
    const int current = FSlotFrame[RowUserURL];
    if (current < 0)
        return true;
    const std::string& currentBody = tag.FrameText[RowUserURL];
    if (DecodeDescribed(currentBody, false).Description.empty() ||
        !DecodeDescribed(body, false).Description.empty())
        return false;
    AddUnsupported(current, currentBody);
    return true;
}

void TDID3v2::AddUnsupported(int frame, std::string data) {
    TReadFrame& read = FReadFrames[static_cast<size_t>(frame)];
    TFrameItem& item = Frames_Unsupport.Add();
    item.FrameID = read.Id;
    item.FrameSize = static_cast<int32_t>(read.FileSize);
    item.FrameFlags = read.Flags;
    item.Description = read.Id;
    item.Data = std::move(data);
    item.ReadFrame = frame;
    read.Home = TFrameHome::fhUnsupport;
    read.Index = item.Index();
}

std::string_view TDID3v2::StoredBody(const TReadFrame& frame) const {
    return FReadBytes.View().substr(frame.Offset, frame.Size);
}

std::string TDID3v2::ReadContent(const TReadFrame& frame) const {
    const std::string_view body = StoredBody(frame);
    if (FReadVersion == 2)
        return std::string(body);
    std::optional<std::string> content =
        UnpackFrameBody(body, FReadVersion, frame.Flags,
                        FReadVersion == 4 && (FReadFlags & TagFlagUnsynchronisation));
    return content ? std::move(*content) : std::string(body);
}

const TFrameLib* TDID3v2::HomeLib(TFrameHome home) const {
    switch (home) {
    case TFrameHome::fhComments:
        return &Frames_Comments;
    case TFrameHome::fhLyrics:
        return &Frames_Lyrics;
    case TFrameHome::fhImages:
        return &Frames_Images;
    case TFrameHome::fhUnsupport:
        return &Frames_Unsupport;
    default:
        return nullptr;
    }
}

std::vector<std::string> TDID3v2::FrameIDs() const {
    std::vector<std::string> ids;
    ids.reserve(FReadFrames.size());
    for (const TReadFrame& frame : FReadFrames)
        ids.push_back(frame.Id);
    return ids;
}

std::string TDID3v2::GetComment(int index) const {
    return index >= 0 && index < Frames_Comments.Count() ? Frames_Comments.Items(index).Data
                                                         : std::string();
}

std::string TDID3v2::GetLyrics(int index) const {
    return index >= 0 && index < Frames_Lyrics.Count() ? Frames_Lyrics.Items(index).Data
                                                       : std::string();
}

namespace {

int SetItemText(TFrameLib& frames, const std::string& text, int index) {
    if (index >= 0 && index < frames.Count()) {
        frames.Items(index).Data = text;
        return index;
    }
    TFrameItem& item = frames.Add();
    item.Data = text;
    return item.Index();
}

} // namespace

int TDID3v2::SetComment(const std::string& text, int index) {
    return SetItemText(Frames_Comments, text, index);
}

int TDID3v2::SetLyrics(const std::string& text, int index) {
    return SetItemText(Frames_Lyrics, text, index);
}

int TDID3v2::MainCommentIndex() const {
    for (int i = 0; i < Frames_Comments.Count(); ++i) {
        if (Frames_Comments.Items(i).Description.empty())
            return i;
    }
    return -1;
}

uint8_t TDID3v2::SaveVersion() const {
    return FReadVersion == 4 ? 4 : 3;
}

bool TDID3v2::StoredPlain(const TReadFrame& frame) const {
    return FReadVersion == 2 || ((frame.Flags >> 8) == 0 &&
                                 !(FReadVersion == 4 && (FReadFlags & TagFlagUnsynchronisation)));
}

const TDID3v2::TReadFrame* TDID3v2::UnchangedPicture(int item) const {
    if (item < 0 || item >= Frames_Images.Count())
        return nullptr;
    const TFrameItem& picture = Frames_Images.Items(item);
    if (picture.ReadFrame < 0 || static_cast<size_t>(picture.ReadFrame) >= FReadFrames.size())
        return nullptr;
    const TReadFrame& frame = FReadFrames[static_cast<size_t>(picture.ReadFrame)];
    const bool same = frame.Home == TFrameHome::fhImages && picture.FrameID == frame.Id &&
                      StoredPlain(frame) && picture.Data == StoredBody(frame);
    return same ? &frame : nullptr;
}

bool TDID3v2::ItemChanged(const TFrameItem& item, const TReadFrame& frame) const {
    // A body stored as it reads is compared where it stands, without a copy.
    if (frame.Home != TFrameHome::fhComments && frame.Home != TFrameHome::fhLyrics &&
        StoredPlain(frame))
        return item.Data != StoredBody(frame) || item.FrameID != frame.Id;
    const std::string content = ReadContent(frame);
    if (frame.Home == TFrameHome::fhComments || frame.Home == TFrameHome::fhLyrics) {
        const TDescribedText read = DecodeDescribed(content, true);
        return item.Data != read.Text || item.Description != read.Description ||
               item.Language != read.Language;
    }
    return item.Data != content || item.FrameID != frame.Id;
}

} // namespace cantorell
