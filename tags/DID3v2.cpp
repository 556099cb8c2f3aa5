#include "DID3v2.h"

#include "ID3v2Frames.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <utility>

namespace cantorell {

namespace {

constexpr size_t V22FrameHeaderSize = 6;
constexpr size_t FrameHeaderSize = 10;
// An ID3v2 size field holds 28 bits.
constexpr int64_t MaxTagBodySize = (int64_t{1} << 28) - 1;

// In a 2.2 header, 0x40 marks a compressed tag, for which no scheme was ever defined.
constexpr uint8_t V22TagCompressed = 0x40;
// A header flag that a rewritten tag keeps: it says nothing about the layout.
constexpr uint8_t TagFlagExperimental = 0x20;

uint8_t Byte(std::string_view s, size_t at) {
    return static_cast<uint8_t>(s[at]);
}

bool IsFrameIdChar(uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Whether a 2.4 frame that ends at `next` is followed by something a tag can hold there: the
// end of the frames, padding, or another frame header.
bool LandsOnFrameBoundary(std::string_view frames, uint64_t next) {
    if (next == frames.size())
        return true;
    if (next > frames.size())
        return false;
    if (Byte(frames, next) == 0)
        return true;
    if (next + FrameHeaderSize > frames.size())
        return false;
    for (size_t i = 0; i < 4; ++i) {
        if (!IsFrameIdChar(Byte(frames, next + i)))
            return false;
    }
    return true;
}

// A 2.4 frame size is synchsafe; some old writers stored a plain number instead. The plain
// reading is taken only when the synchsafe one leads nowhere and the plain one does.
uint64_t FrameSizeV24(std::string_view frames, size_t pos) {
    const auto* b = reinterpret_cast<const uint8_t*>(frames.data() + pos + 4);
    const uint64_t plain = BigEndian32(b);
    if ((b[0] | b[1] | b[2] | b[3]) & 0x80)
        return plain;
    const uint64_t synchsafe =
        (uint64_t{b[0]} << 21) | (uint64_t{b[1]} << 14) | (uint64_t{b[2]} << 7) | b[3];
    if (synchsafe == plain)
        return synchsafe;
    const uint64_t bodyStart = pos + FrameHeaderSize;
    if (!LandsOnFrameBoundary(frames, bodyStart + synchsafe) &&
        LandsOnFrameBoundary(frames, bodyStart + plain))
        return plain;
    return synchsafe;
}

// A frame header (size synchsafe in 2.4, a plain number in 2.3) and the body.
void AppendFrame(std::string& out, std::string_view id, std::string_view body, uint16_t flags,
                 uint8_t version) {
    out += id;
    const auto size = static_cast<uint32_t>(body.size());
    const int shift = version >= 4 ? 7 : 8;
    const uint32_t mask = version >= 4 ? 0x7F : 0xFF;
    for (int k = 3; k >= 0; --k)
        out += static_cast<char>((size >> (shift * k)) & mask);
    out += static_cast<char>(flags & 0xFF);
    out += static_cast<char>(flags >> 8);
    out += body;
}

bool IsWritableFrameId(std::string_view id) {
    return id.size() == 4 && std::all_of(id.begin(), id.end(), [](char c) {
               return IsFrameIdChar(static_cast<uint8_t>(c));
           });
}

} // namespace

TDID3v2::TDID3v2(TFileSystem& fs) : Fs(fs) {
    ResetFields();
}

TDID3v2::TDID3v2() : TDID3v2(TFileSystem::Default()) {}

void TDID3v2::ResetFields() {
    Exists = false;
    VersionID = 0;
    TagSize = 0;
    PaddingSize = MaxTagSpace;
    FileName.clear();
    for (int row = 0; row < RowBPM; ++row)
        RowText(row).clear();
    BPM = 0;
    FReadBytes.clear();
    FReadRaw = false;
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
    switch (row) {
    case 0:
        return Album;
    case 1:
        return Artist;
    case 2:
        return Title;
    case 3:
        return Track;
    case 4:
        return Year;
    case 5:
        return Genre;
    case 6:
        return Lyricist;
    case 7:
        return EncodedBy;
    case 8:
        return Languages;
    case 9:
        return RightsNotice;
    case 10:
        return Composer;
    case 11:
        return UserURL;
    case 12:
        return OrigLyricist;
    case 13:
        return OrigArtist;
    case 14:
        return OrigAlbum;
    case 15:
        return ContentGroup;
    case 16:
        return Subtitle;
    case 17:
        return RecordingDates;
    case 18:
        return Band;
    case 19:
        return Conductor;
    default:
        return ModifiedBy;
    }
}

bool TDID3v2::ReadFromFile(const std::string& fileName) {
    ResetFields();
    FileName = fileName;
    FRead.Take(fileName, {});
    // One open for the header and the tag: the header says how much to read, and the whole
    // tag then comes in one read. Its size was checked against the file's size, so nothing
    // beyond the bytes on disk is allocated; a failed tag read leaves the header alone, and
    // the tag then shows no frames.
    auto file = Fs.Open(fileName, TOpenMode::omReadOnly);
    if (!file)
        return false;
    std::string head(TagHeaderSize, '\0');
    int64_t fileSize = 0;
    if (!file->ReadExactAt(0, head.data(), TagHeaderSize) || !file->Size(fileSize))
        return false;
    TagInfo tag;
    tag.SetHeaderBytes(reinterpret_cast<const uint8_t*>(head.data()));
    tag.FileSize = fileSize;
    const int32_t total = tag.HasIdentifier() ? TagTotalSize(tag) : 0;
    if (total > TagHeaderSize) {
        // The rest of the tag behind the header already read.
        head.resize(static_cast<size_t>(total));
        const int64_t got =
            file->ReadAt(TagHeaderSize, head.data() + TagHeaderSize, total - TagHeaderSize);
        head.resize(static_cast<size_t>(TagHeaderSize + std::max<int64_t>(got, 0)));
    }
    Parse(std::move(head), fileSize);
    FRead.Take(fileName, file->Stamp());
    return true;
}

bool TDID3v2::ReadFromBytes(std::string_view head, int64_t fileSize) {
    return Parse(std::string(head), fileSize);
}

bool TDID3v2::Parse(std::string&& head, int64_t fileSize) {
    std::string fileName = std::move(FileName);
    ResetFields();
    FileName = std::move(fileName);
    if (head.size() < static_cast<size_t>(TagHeaderSize))
        return false;
    TagInfo tag;
    tag.SetHeaderBytes(reinterpret_cast<const uint8_t*>(head.data()));
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
    end = std::min(end, head.size());
    size_t begin = TagHeaderSize;
    // The frames stay in memory as read, so that a save can write back what is unchanged.
    // In 2.2 and 2.3 unsynchronisation covers the whole tag after the header, the extended
    // header included; in 2.4 it is undone frame by frame.
    if (tag.MajorVersion < 4 && (tag.Flags & TagFlagUnsynchronisation)) {
        FReadBytes = RemoveUnsynchronisation(std::string_view(head).substr(begin, end - begin));
        begin = 0;
        end = FReadBytes.size();
    } else {
        FReadBytes = std::move(head);
        FReadRaw = true;
    }
    if (tag.MajorVersion > 2 && (tag.Flags & TagFlagExtendedHeader)) {
        // 2.3: a 4-byte size that excludes itself. 2.4: a synchsafe size that includes it.
        if (end - begin < 4)
            return true;
        const auto* b = reinterpret_cast<const uint8_t*>(FReadBytes.data() + begin);
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
    return true;
}

void TDID3v2::ReadFrames(size_t begin, size_t end, TagInfo& tag) {
    const std::string_view frames = std::string_view(FReadBytes).substr(begin, end - begin);
    const int version = tag.MajorVersion;
    const bool tagUnsynchronised = version == 4 && (tag.Flags & TagFlagUnsynchronisation);
    const size_t headerSize = version == 2 ? V22FrameHeaderSize : FrameHeaderSize;
    size_t pos = 0;
    while (frames.size() - pos >= headerSize) {
        // Padding (zero bytes) or anything that is not a frame ends the walk: an identifier
        // is a capital letter followed by capitals and digits. What follows a header with
        // any other identifier is no frame that a tag could be written back with.
        const std::string_view id = frames.substr(pos, version == 2 ? 3 : 4);
        if (Byte(frames, pos) < 'A' || Byte(frames, pos) > 'Z' ||
            !std::all_of(id.begin(), id.end(),
                         [](char c) { return IsFrameIdChar(static_cast<uint8_t>(c)); }))
            break;
        uint64_t size = 0;
        uint16_t flags = 0;
        if (version == 2) {
            size = (uint64_t{Byte(frames, pos + 3)} << 16) |
                   (uint64_t{Byte(frames, pos + 4)} << 8) | Byte(frames, pos + 5);
        } else {
            size = version == 4
                       ? FrameSizeV24(frames, pos)
                       : BigEndian32(reinterpret_cast<const uint8_t*>(frames.data() + pos + 4));
            flags = static_cast<uint16_t>(Byte(frames, pos + 8) | (Byte(frames, pos + 9) << 8));
        }
        const size_t bodyStart = pos + headerSize;
        if (size == 0) {
            pos = bodyStart;
            continue;
        }
        // A body that would reach past the tag is not a frame of it: stop rather than take
        // bytes of the audio.
        if (size > frames.size() - bodyStart)
            break;
        pos = bodyStart + static_cast<size_t>(size);
        if (FReadFrames.size() >= static_cast<size_t>(MaxFrames)) {
            ++FramesIgnored;
            continue;
        }

        TReadFrame frame;
        frame.Id = std::string(id);
        frame.Flags = flags;
        frame.Offset = begin + bodyStart;
        frame.Size = static_cast<size_t>(size);
        if (FReadRaw)
            frame.FileOffset = static_cast<int64_t>(begin + bodyStart);
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
        item.FrameSize = static_cast<int32_t>(read.Size);
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
    item.FrameSize = static_cast<int32_t>(read.Size);
    item.FrameFlags = read.Flags;
    item.Description = read.Id;
    item.Data = std::move(data);
    item.ReadFrame = frame;
    read.Home = TFrameHome::fhUnsupport;
    read.Index = item.Index();
}

std::string_view TDID3v2::StoredBody(const TReadFrame& frame) const {
    return std::string_view(FReadBytes).substr(frame.Offset, frame.Size);
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

// An item encoded afresh: comments and lyrics from their texts, pictures and unsupported
// frames from their bodies. Frame flags are not set: the body is plain.
void TDID3v2::AppendItem(std::string& out, const TFrameItem& item, TFrameHome home) const {
    const uint8_t version = SaveVersion();
    switch (home) {
    case TFrameHome::fhComments:
    case TFrameHome::fhLyrics:
        AppendFrame(out, home == TFrameHome::fhComments ? "COMM" : "USLT",
                    EncodeDescribed(item.Language, item.Description, item.Data, version), 0,
                    version);
        return;
    case TFrameHome::fhImages:
        // A 2.2 picture names its format in three letters; 2.3 and 2.4 want a MIME type.
        if (item.FrameID.size() == 3) {
            if (const std::string apic = ConvertPicToApic(item.Data); !apic.empty())
                AppendFrame(out, "APIC", apic, 0, version);
        } else {
            AppendFrame(out, "APIC", item.Data, 0, version);
        }
        return;
    default: {
        const std::string_view id = item.FrameID.size() == 3 ? V22ToV23FrameId(item.FrameID)
                                                             : std::string_view(item.FrameID);
        if (IsWritableFrameId(id))
            AppendFrame(out, id, item.Data, 0, version);
        return;
    }
    }
}

// A frame as it was read. A 2.2 frame takes its 2.3 identifier (a picture its 2.3 layout);
// one that 2.3 has no identifier for is left out.
void TDID3v2::AppendStored(std::string& out, const TReadFrame& frame) const {
    const std::string_view body = StoredBody(frame);
    if (FReadVersion == 2) {
        if (frame.Id == "PIC") {
            if (const std::string apic = ConvertPicToApic(body); !apic.empty())
                AppendFrame(out, "APIC", apic, 0, 3);
            return;
        }
        const std::string_view id = V22ToV23FrameId(frame.Id);
        if (IsWritableFrameId(id))
            AppendFrame(out, id, body, 0, 3);
        return;
    }
    uint16_t flags = frame.Flags;
    // The tag-wide flag of a 2.4 tag meant that every frame was unsynchronised. The new
    // header does not carry it, so each frame says it of itself.
    if (FReadVersion == 4 && (FReadFlags & TagFlagUnsynchronisation))
        flags |= uint16_t{FormatV24Unsynchronised} << 8;
    AppendFrame(out, frame.Id, body, flags, FReadVersion);
}

std::string TDID3v2::BuildFrames() const {
    const uint8_t version = SaveVersion();
    const int column = version - 2;
    // Which slots the caller changed, and the frames for those that still hold a value. A
    // slot without an identifier in this version (2.4 has no recording dates) is not
    // written.
    std::array<bool, TextSlotCount> changed{};
    std::array<std::string, TextSlotCount> fresh;
    for (int row = 0; row <= RowBPM; ++row) {
        if (FindFrameRow(FrameIdTable[row][column], version) != row)
            continue;
        if (row == RowBPM) {
            // A file that had no "TBPM" gets one only for a real number of beats.
            changed[row] = BPM != FReadBPM;
            if (changed[row] && BPM > 0)
                fresh[row] = EncodeFrameText(std::to_string(BPM), version);
            continue;
        }
        const std::string& text = RowText(row);
        changed[row] = text != FReadText[row];
        if (changed[row] && !text.empty())
            fresh[row] = row == RowUserURL ? EncodeUserURL(FUserURLDescription, text, version)
                                           : EncodeFrameText(text, version);
    }
    // Another frame with the identifier of a changed slot (an earlier duplicate, a kept
    // frame with an unknown encoding) would stand beside the new text and might win over
    // it on the next read: it is left out. "WXXX" frames with other descriptions are
    // distinct links and stay.
    auto staleDuplicate = [&](std::string_view id) {
        int row = FindFrameRow(id, version);
        if (row < 0 && FindFrameRow(id, 7 - version) == RowYear)
            row = RowYear;
        return row >= 0 && row <= RowBPM && row != RowUserURL && changed[row];
    };

    std::string out;
    for (size_t i = 0; i < FReadFrames.size(); ++i) {
        const TReadFrame& frame = FReadFrames[i];
        if (frame.Home == TFrameHome::fhSlot) {
            const int row = frame.Index;
            if (!changed[row])
                AppendStored(out, frame);
            else if (FSlotFrame[row] == static_cast<int>(i) && !fresh[row].empty())
                AppendFrame(out, FrameIdTable[row][column], fresh[row], 0, version);
            continue;
        }
        const TFrameLib& lib = *HomeLib(frame.Home);
        // An item no longer there is left out, and so is one the caller emptied.
        if (frame.Index >= lib.Count())
            continue;
        const TFrameItem& item = lib.Items(frame.Index);
        if (item.ReadFrame != static_cast<int>(i))
            continue;
        const std::string_view id =
            FReadVersion == 2 ? V22ToV23FrameId(frame.Id) : std::string_view(frame.Id);
        if (frame.Home == TFrameHome::fhUnsupport && staleDuplicate(id))
            continue;
        if (!ItemChanged(item, frame))
            AppendStored(out, frame);
        else if (!item.Data.empty())
            AppendItem(out, item, frame.Home);
    }

    // What is new goes behind the frames read: slots in table order, then comments,
    // lyrics, pictures and other frames.
    for (int row = 0; row <= RowBPM; ++row) {
        if (FSlotFrame[row] < 0 && !fresh[row].empty())
            AppendFrame(out, FrameIdTable[row][column], fresh[row], 0, version);
    }
    for (const TFrameHome home : {TFrameHome::fhComments, TFrameHome::fhLyrics,
                                  TFrameHome::fhImages, TFrameHome::fhUnsupport}) {
        const TFrameLib& lib = *HomeLib(home);
        for (int i = 0; i < lib.Count(); ++i) {
            const TFrameItem& item = lib.Items(i);
            if (item.ReadFrame >= 0 || item.Data.empty())
                continue;
            if (home == TFrameHome::fhUnsupport &&
                staleDuplicate(item.FrameID.size() == 3 ? V22ToV23FrameId(item.FrameID)
                                                        : std::string_view(item.FrameID)))
                continue;
            AppendItem(out, item, home);
        }
    }
    return out;
}

bool TDID3v2::Render(const TagInfo& current, TRenderedTag& out) const {
    const std::string frames = BuildFrames();
    int64_t total = TagHeaderSize + static_cast<int64_t>(frames.size());
    // The old tag's space is reused when the new tag fits it without leaving more padding
    // than a rebuilt tag would have: then only the tag is written, whatever the file's size.
    const int64_t old = current.HasIdentifier() ? TagTotalSize(current) : 0;
    out.InPlace = current.HasIdentifier() && total <= old && old - total <= MaxTagSpace;
    const int64_t padding = (out.InPlace ? old : MaxTagSpace) - total;
    out.Padding = static_cast<int32_t>(std::max<int64_t>(padding, -MaxTagBodySize));
    if (padding > 0)
        total += padding;
    if (total - TagHeaderSize > MaxTagBodySize)
        return false;
    // The revision and the experimental flag of a tag saved in its own version stay.
    const uint8_t version = SaveVersion();
    const bool sameVersion = FReadVersion == version;
    std::string& bytes = out.Bytes;
    bytes.clear();
    bytes.reserve(static_cast<size_t>(total));
    bytes += "ID3";
    bytes += static_cast<char>(version);
    bytes += static_cast<char>(sameVersion ? FReadRevision : 0);
    bytes += static_cast<char>(sameVersion ? (FReadFlags & TagFlagExperimental) : 0);
    for (int k = 3; k >= 0; --k)
        bytes += static_cast<char>(((total - TagHeaderSize) >> (7 * k)) & 0x7F);
    bytes += frames;
    bytes.resize(static_cast<size_t>(total), '\0');
    return true;
}

bool TDID3v2::WriteTag(const std::string& fileName, TagInfo& tag) {
    TRenderedTag rendered;
    if (!Render(tag, rendered))
        return false;
    PaddingSize = rendered.Padding;
    tag.MustRebuild = !rendered.InPlace;
    return tag.MustRebuild ? RebuildFile(fileName, rendered.Bytes)
                           : WriteTagInPlace(fileName, rendered.Bytes);
}

bool TDID3v2::SaveToFile(const std::string& fileName) {
    // A header that cannot be read must not be taken for "no tag": the file would then be
    // rebuilt with the new tag in front of the old one. A missing or short file fails here.
    // The lock makes the read of the header and the write one step for other saves.
    FNote.clear();
    if (FramesIgnored > 0) {
        FNote = "The tag has more than " + std::to_string(MaxFrames) +
                " frames; the rest were not read, and a save would lose them.";
        return false;
    }
    const auto lock = FRead.LockUnchanged(Fs, fileName);
    TagInfo tag;
    if (!lock || !ReadTagHeader(Fs, fileName, tag) || !WriteTag(fileName, tag))
        return false;
    ForgetFilePlaces(fileName);
    FRead.Refresh(Fs, fileName);
    return true;
}

bool TDID3v2::RemoveFromFile(const std::string& fileName) {
    FNote.clear();
    const auto lock = FRead.LockUnchanged(Fs, fileName);
    if (!lock || !RebuildFile(fileName, std::nullopt))
        return false;
    ForgetFilePlaces(fileName);
    FRead.Refresh(Fs, fileName);
    return true;
}

// After a write into the file read, the frames no longer stand where they were read.
void TDID3v2::ForgetFilePlaces(const std::string& fileName) {
    if (fileName != FRead.ReadPath())
        return;
    for (TReadFrame& frame : FReadFrames)
        frame.FileOffset = -1;
}

const std::string& TDID3v2::FailureNote() const {
    return FNote.empty() ? Fs.FailureNote() : FNote;
}

bool TDID3v2::WriteTagInPlace(const std::string& fileName, std::string_view tag) {
    // A read-only file is written all the same and keeps its permission bits.
    auto file = Fs.OpenForUpdate(fileName);
    if (!file)
        return false;
    // The new tag covers the old tag's space exactly, so the audio stays where it is. The
    // old bytes are kept first: a write that fails part-way (a failing disk, a full
    // copy-on-write file system) would otherwise leave half a tag in front of the audio.
    const auto length = static_cast<int64_t>(tag.size());
    std::string old(tag.size(), '\0');
    if (!file->ReadExactAt(0, old.data(), length))
        return false;
    if (old == tag)
        return file->Close(); // nothing changed: the file is left as it was
    // Once flushed, the new tag is on the disk: a close that reports an error then changes
    // nothing, and the save must not be reported as failed while the file holds it.
    if (file->WriteAt(0, tag.data(), length) && file->Flush()) {
        file->Close();
        return true;
    }
    file->WriteAt(0, old.data(), length);
    file->Flush();
    return false;
}

bool TDID3v2::RebuildFile(const std::string& fileName, std::optional<std::string_view> tag) {
    TagInfo header;
    if (!ReadTagHeader(Fs, fileName, header))
        return false;
    if (!tag && !header.HasIdentifier())
        return false;
    auto source = Fs.Open(fileName, TOpenMode::omReadOnly);
    int64_t size = 0;
    if (!source || !source->Size(size))
        return false;
    // A tag that overruns the file has a total size of 0: then nothing is skipped.
    int64_t skip = header.HasIdentifier() ? TagTotalSize(header) : 0;
    // A removal takes every tag stacked at the start: some programs put a new tag in front
    // of an old one instead of replacing it.
    while (!tag && skip > 0 && size - skip >= TagHeaderSize) {
        uint8_t next[TagHeaderSize];
        if (!source->ReadExactAt(skip, next, TagHeaderSize))
            return false;
        TagInfo stacked;
        stacked.SetHeaderBytes(next);
        stacked.FileSize = size - skip;
        const int32_t more = stacked.HasIdentifier() ? TagTotalSize(stacked) : 0;
        if (more <= 0)
            break;
        skip += more;
    }
    // The file layer builds the new file beside the old one and puts it in its place (or,
    // for a file with other hard links or another owner, writes it into the old one), so
    // the original is never lost and keeps its links, owner, mode and attributes.
    const auto tagLength = static_cast<int64_t>(tag ? tag->size() : 0);
    return Fs.ReplaceContent(fileName, [&](TFile& target) {
        return (tagLength == 0 || target.WriteAt(0, tag->data(), tagLength)) &&
               (size <= skip || target.CopyFrom(*source, skip, tagLength, size - skip));
    });
}

} // namespace cantorell
