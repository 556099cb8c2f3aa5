#include "DID3v2.h"

#include "ID3v2Frames.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <sys/stat.h>
#include <utility>

namespace cantorell {

namespace {

constexpr size_t V22FrameHeaderSize = 6;
constexpr size_t FrameHeaderSize = 10;
// An ID3v2 size field holds 28 bits.
constexpr int64_t MaxTagBodySize = (int64_t{1} << 28) - 1;

// Format-flag bits of a 2.3 frame (the second flag byte).
constexpr uint8_t V23Compressed = 0x80;
constexpr uint8_t V23Encrypted = 0x40;
constexpr uint8_t V23Grouped = 0x20;
// Format-flag bits of a 2.4 frame.
constexpr uint8_t V24Grouped = 0x40;
constexpr uint8_t V24Compressed = 0x08;
constexpr uint8_t V24Encrypted = 0x04;
constexpr uint8_t V24Unsynchronised = 0x02;
constexpr uint8_t V24DataLength = 0x01;
// In a 2.2 header, 0x40 marks a compressed tag, for which no scheme was ever defined.
constexpr uint8_t V22TagCompressed = 0x40;

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

void AppendFrame(std::string& out, std::string_view id, std::string_view body) {
    out += id;
    const auto size = static_cast<uint32_t>(body.size());
    out += static_cast<char>(size >> 24);
    out += static_cast<char>(size >> 16);
    out += static_cast<char>(size >> 8);
    out += static_cast<char>(size);
    out.append(2, '\0'); // the writer sets no frame flag
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
    BPMText.clear();
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
    ReadFromBytes(head, fileSize);
    return true;
}

bool TDID3v2::ReadFromBytes(std::string_view head, int64_t fileSize) {
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
    if (tag.MajorVersion < 2 || tag.MajorVersion > 4 || TagSize <= 0)
        return true;

    // The frames lie between the header and the padding's end; a 2.4 footer follows them.
    size_t end = static_cast<size_t>(TagSize);
    if (tag.Flags & TagFlagFooter)
        end -= TagHeaderSize;
    end = std::min(end, head.size());
    std::string_view frames = head.substr(TagHeaderSize, end - TagHeaderSize);
    std::string resynchronised;
    // In 2.2 and 2.3 unsynchronisation covers the whole tag after the header, the extended
    // header included; in 2.4 it is undone frame by frame.
    if (tag.MajorVersion < 4 && (tag.Flags & TagFlagUnsynchronisation)) {
        resynchronised = RemoveUnsynchronisation(frames);
        frames = resynchronised;
    }
    if (tag.MajorVersion == 2 && (tag.Flags & V22TagCompressed))
        return true;
    if (tag.MajorVersion > 2 && (tag.Flags & TagFlagExtendedHeader)) {
        // 2.3: a 4-byte size that excludes itself. 2.4: a synchsafe size that includes it.
        if (frames.size() < 4)
            return true;
        const auto* b = reinterpret_cast<const uint8_t*>(frames.data());
        const uint64_t skip = tag.MajorVersion == 3
                                  ? uint64_t{BigEndian32(b)} + 4
                                  : (uint64_t{b[0] & 0x7Fu} << 21) |
                                        (uint64_t{b[1] & 0x7Fu} << 14) |
                                        (uint64_t{b[2] & 0x7Fu} << 7) | (b[3] & 0x7Fu);
        if (skip > frames.size())
            return true;
        frames.remove_prefix(static_cast<size_t>(skip));
    }
    ReadFrames(frames, tag);

    for (int row = 0; row < RowBPM; ++row) {
        const std::string& body = tag.FrameText[row];
        if (row == RowGenre)
            RowText(row) = DecodeGenreText(body);
        else if (row == RowUserURL)
            RowText(row) = DecodeUserURL(body);
        else
            RowText(row) = DecodeFrameText(body);
    }
    BPMText = DecodeFrameText(tag.FrameText[RowBPM]);
    BPM = static_cast<uint16_t>(ParseFrameNumber(BPMText));
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

void TDID3v2::ReadFrames(std::string_view frames, TagInfo& tag) {
    const int version = tag.MajorVersion;
    const size_t headerSize = version == 2 ? V22FrameHeaderSize : FrameHeaderSize;
    size_t pos = 0;
    while (frames.size() - pos >= headerSize) {
        // Padding (zero bytes) or anything that is not a frame ends the walk.
        if (Byte(frames, pos) < 'A' || Byte(frames, pos) > 'Z')
            break;
        const std::string_view id = frames.substr(pos, version == 2 ? 3 : 4);
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
        std::string_view body = frames.substr(bodyStart, static_cast<size_t>(size));
        pos = bodyStart + static_cast<size_t>(size);

        const auto format = static_cast<uint8_t>(flags >> 8);
        std::string resynchronised;
        if (version == 3) {
            // Compressed or encrypted bodies cannot be read, and the writer sets no flags,
            // so writing them back would corrupt them: they are dropped.
            if (format & (V23Compressed | V23Encrypted))
                continue;
            if (format & V23Grouped) {
                body.remove_prefix(1); // the group symbol, which the writer does not keep
            }
        } else if (version == 4) {
            if (format & (V24Compressed | V24Encrypted))
                continue;
            if (format & V24Grouped) {
                body.remove_prefix(1);
            }
            if (format & V24DataLength) {
                if (body.size() < 4)
                    continue;
                body.remove_prefix(4);
            }
            if ((format & V24Unsynchronised) || (tag.Flags & TagFlagUnsynchronisation)) {
                resynchronised = RemoveUnsynchronisation(body);
                body = resynchronised;
            }
        }
        StoreFrame(id, body, flags, static_cast<int32_t>(size), tag);
    }
}

void TDID3v2::StoreFrame(std::string_view identifier, std::string_view body, uint16_t flags,
                         int32_t size, TagInfo& tag) {
    const int row = FindFrameRow(identifier, tag.MajorVersion);
    if (row >= 0 && row <= RowBPM) {
        if (!body.empty() && Byte(body, 0) <= teUtf8) {
            tag.FrameText[row] = std::string(body);
            return;
        }
    } else if (row >= RowComments) {
        TFrameLib& frames = row == RowComments ? Frames_Comments
                            : row == RowLyrics ? Frames_Lyrics
                                               : Frames_Images;
        TFrameItem& item = frames.Add();
        item.FrameID = std::string(identifier);
        item.FrameSize = size;
        item.FrameFlags = flags;
        item.Data = std::string(body);
        return;
    }
    TFrameItem& item = Frames_Unsupport.Add();
    item.FrameID = std::string(identifier);
    item.FrameSize = size;
    item.FrameFlags = flags;
    item.Description = std::string(identifier);
    item.Data = std::string(body);
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

std::string TDID3v2::BuildFrames(TagInfo& tag) const {
    for (int row = 0; row < RowBPM; ++row) {
        const std::string& text = RowText(row);
        if (text.empty())
            tag.FrameText[row].clear();
        else
            tag.FrameText[row] = row == RowUserURL ? EncodeUserURL(text) : EncodeFrameText(text);
    }
    const bool keepText =
        !BPMText.empty() && static_cast<uint16_t>(ParseFrameNumber(BPMText)) == BPM;
    tag.FrameText[RowBPM] = EncodeFrameText(keepText ? BPMText : std::to_string(BPM));

    std::string out;
    for (int row = 0; row <= RowBPM; ++row) {
        if (!tag.FrameText[row].empty())
            AppendFrame(out, FrameIdTable[row][1], tag.FrameText[row]);
    }
    for (const auto& [frames, id] :
         {std::pair{&Frames_Comments, "COMM"}, {&Frames_Lyrics, "USLT"}}) {
        for (int i = 0; i < frames->Count(); ++i) {
            const TFrameItem& item = frames->Items(i);
            if (!item.Data.empty())
                AppendFrame(out, id, EncodeDescribed(item.Language, item.Description, item.Data));
        }
    }
    for (int i = 0; i < Frames_Images.Count(); ++i) {
        const TFrameItem& item = Frames_Images.Items(i);
        if (item.Data.empty())
            continue;
        // A 2.2 picture names its format in three letters; 2.3 wants a MIME type.
        if (item.FrameID.size() == 3) {
            if (const std::string apic = ConvertPicToApic(item.Data); !apic.empty())
                AppendFrame(out, "APIC", apic);
        } else {
            AppendFrame(out, "APIC", item.Data);
        }
    }
    for (int i = 0; i < Frames_Unsupport.Count(); ++i) {
        const TFrameItem& item = Frames_Unsupport.Items(i);
        if (item.Data.empty())
            continue;
        const std::string_view id = item.FrameID.size() == 3 ? V22ToV23FrameId(item.FrameID)
                                                             : std::string_view(item.FrameID);
        if (!IsWritableFrameId(id))
            continue;
        // A kept frame that the fields above already wrote would stand after the new one
        // and win over it on the next read.
        const int row = FindFrameRow(id, 3);
        if (row >= 0 && row <= RowBPM && !tag.FrameText[row].empty())
            continue;
        AppendFrame(out, id, item.Data);
    }
    return out;
}

bool TDID3v2::BuildTagHeader(TagInfo& tag, int64_t frameBytes) {
    int64_t total = TagHeaderSize + frameBytes;
    const int64_t old = tag.HasIdentifier() ? TagTotalSize(tag) : 0;
    const bool inPlace = tag.HasIdentifier() && total <= old && old <= MaxTagSpace;
    tag.MustRebuild = !inPlace;
    const int64_t padding = (inPlace ? old : MaxTagSpace) - total;
    PaddingSize = static_cast<int32_t>(std::max<int64_t>(padding, -MaxTagBodySize));
    if (padding > 0)
        total += padding;
    if (total - TagHeaderSize > MaxTagBodySize)
        return false;
    tag.Identifier = {'I', 'D', '3'};
    tag.MajorVersion = 3;
    tag.RevisionNumber = 0;
    tag.Flags = 0;
    for (int k = 0; k < 4; ++k)
        tag.SizeBytes[k] = static_cast<uint8_t>(((total - TagHeaderSize) >> (7 * (3 - k))) & 0x7F);
    return true;
}

bool TDID3v2::WriteTag(const std::string& fileName, TagInfo& tag) {
    const std::string frames = BuildFrames(tag);
    if (!BuildTagHeader(tag, static_cast<int64_t>(frames.size())))
        return false;
    std::string bytes;
    bytes.reserve(TagHeaderSize + frames.size() + static_cast<size_t>(std::max(PaddingSize, 0)));
    bytes.append(tag.Identifier.data(), 3);
    bytes += static_cast<char>(tag.MajorVersion);
    bytes += static_cast<char>(tag.RevisionNumber);
    bytes += static_cast<char>(tag.Flags);
    for (const uint8_t b : tag.SizeBytes)
        bytes += static_cast<char>(b);
    bytes += frames;
    if (PaddingSize > 0)
        bytes.append(static_cast<size_t>(PaddingSize), '\0');
    return tag.MustRebuild ? RebuildFile(fileName, bytes) : WriteTagInPlace(fileName, bytes);
}

bool TDID3v2::SaveToFile(const std::string& fileName) {
    // A header that cannot be read must not be taken for "no tag": the file would then be
    // rebuilt with the new tag in front of the old one. A missing or short file fails here.
    TagInfo tag;
    if (!ReadTagHeader(Fs, fileName, tag))
        return false;
    return WriteTag(fileName, tag);
}

bool TDID3v2::RemoveFromFile(const std::string& fileName) {
    return RebuildFile(fileName, std::nullopt);
}

bool TDID3v2::WriteTagInPlace(const std::string& fileName, std::string_view tag) {
    if (!Fs.Exists(fileName) || !Fs.MakeWritable(fileName))
        return false;
    auto file = Fs.Open(fileName, TOpenMode::omReadWrite);
    if (!file)
        return false;
    // The new tag covers the old tag's space exactly, so the audio stays where it is. The
    // old bytes are kept first: a write that fails part-way (a failing disk, a full
    // copy-on-write file system) would otherwise leave half a tag in front of the audio.
    const auto length = static_cast<int64_t>(tag.size());
    std::string old(tag.size(), '\0');
    if (!file->ReadExactAt(0, old.data(), length))
        return false;
    if (file->WriteAt(0, tag.data(), length) && file->Flush())
        return file->Close();
    file->WriteAt(0, old.data(), length);
    file->Flush();
    return false;
}

bool TDID3v2::RebuildFile(const std::string& fileName, std::optional<std::string_view> tag) {
    if (!Fs.Exists(fileName) || !Fs.MakeWritable(fileName))
        return false;
    TagInfo header;
    if (!ReadTagHeader(Fs, fileName, header))
        return false;
    if (!tag && !header.HasIdentifier())
        return false;
    auto source = Fs.Open(fileName, TOpenMode::omReadOnly);
    if (!source)
        return false;
    int64_t size = 0;
    if (!source->Size(size))
        return false;

    const std::string temp = fileName + "~";
    auto target = Fs.Open(temp, TOpenMode::omCreate);
    auto fail = [&] {
        target.reset();
        if (Fs.Exists(temp))
            Fs.Remove(temp);
        return false;
    };
    if (!target)
        return fail();
    // A tag that overruns the file has a total size of 0: then nothing is skipped.
    const int64_t skip = header.HasIdentifier() ? TagTotalSize(header) : 0;
    const auto tagLength = static_cast<int64_t>(tag ? tag->size() : 0);
    if (tagLength > 0 && !target->WriteAt(0, tag->data(), tagLength))
        return fail();
    if (size > skip && !target->CopyFrom(*source, skip, tagLength, size - skip))
        return fail();
    // The copy reaches the disk before it takes the original's place, with the original's
    // permission bits; the rename then swaps the two in one step.
    unsigned mode = 0;
    if (!target->Flush() || !Fs.Permissions(fileName, mode) ||
        !target->SetPermissions((mode & 07777) | S_IWUSR) || !target->Close())
        return fail();
    source.reset();
    if (!Fs.Replace(temp, fileName))
        return fail();
    return true;
}

} // namespace cantorell
