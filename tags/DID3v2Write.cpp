// Saving an ID3v2 tag: the frames a save writes, the whole tag as bytes and the file
// ranges it copies, and the two ways of putting it into the file (over the old tag's space,
// or through a new file).
#include "DID3v2.h"

#include "ID3v2Frames.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <utility>

namespace cantorell {

namespace {

// An ID3v2 size field holds 28 bits.
constexpr int64_t MaxTagBodySize = (int64_t{1} << 28) - 1;
// A header flag that a rewritten tag keeps: it says nothing about the layout.
constexpr uint8_t TagFlagExperimental = 0x20;
// An in-place write compares the new tag with the old one in blocks of this size and
// writes only the blocks that differ, so that a picture that stays where it was is not
// written again.
constexpr size_t CompareBlock = 64 * 1024;

// A frame header: the size is synchsafe in 2.4, a plain number in 2.3.
void AppendFrameHeader(std::string& out, std::string_view id, uint64_t size, uint16_t flags,
                       uint8_t version) {
    out += id;
    const int shift = version >= 4 ? 7 : 8;
    const uint64_t mask = version >= 4 ? 0x7F : 0xFF;
    for (int k = 3; k >= 0; --k)
        out += static_cast<char>((size >> (shift * k)) & mask);
    out += static_cast<char>(flags & 0xFF);
    out += static_cast<char>(flags >> 8);
}

void AppendFrame(std::string& out, std::string_view id, std::string_view body, uint16_t flags,
                 uint8_t version) {
    AppendFrameHeader(out, id, body.size(), flags, version);
    out += body;
}

bool IsWritableFrameId(std::string_view id) {
    return id.size() == 4 && std::all_of(id.begin(), id.end(), [](char c) {
               return IsFrameIdChar(static_cast<uint8_t>(c));
           });
}

int64_t RangesSize(const std::vector<TDID3v2::TFileRange>& ranges) {
    int64_t size = 0;
    for (const TDID3v2::TFileRange& range : ranges)
        size += range.Size;
    return size;
}

// The whole tag: the bytes rendered with each range taken from `source` (the old tag's
// bytes, which start at the file's offset 0). False when a range lies outside them.
bool Assemble(std::string_view tag, const std::vector<TDID3v2::TFileRange>& ranges,
              std::string_view source, std::string& out) {
    out.clear();
    out.reserve(tag.size() + static_cast<size_t>(RangesSize(ranges)));
    size_t from = 0;
    for (const TDID3v2::TFileRange& range : ranges) {
        if (range.Offset < 0 || range.Size > static_cast<int64_t>(source.size()) ||
            range.Offset > static_cast<int64_t>(source.size()) - range.Size || range.At < from)
            return false;
        out.append(tag.substr(from, range.At - from));
        out.append(
            source.substr(static_cast<size_t>(range.Offset), static_cast<size_t>(range.Size)));
        from = range.At;
    }
    out.append(tag.substr(from));
    return true;
}

} // namespace

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
// one that 2.3 has no identifier for is left out. A body the read passed over is copied
// from the file.
void TDID3v2::AppendStored(std::string& out, int index, std::vector<TFileRange>& ranges) const {
    const TReadFrame& frame = FReadFrames[static_cast<size_t>(index)];
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
    if (frame.Size < static_cast<uint64_t>(frame.FileSize)) {
        AppendFrameHeader(out, frame.Id, static_cast<uint64_t>(frame.FileSize), frame.Flags,
                          FReadVersion);
        ranges.push_back({out.size(), frame.FileOffset, frame.FileSize, index});
        return;
    }
    uint16_t flags = frame.Flags;
    // The tag-wide flag of a 2.4 tag meant that every frame was unsynchronised. The new
    // header does not carry it, so each frame says it of itself.
    if (FReadVersion == 4 && (FReadFlags & TagFlagUnsynchronisation))
        flags |= uint16_t{FormatV24Unsynchronised} << 8;
    AppendFrame(out, frame.Id, body, flags, FReadVersion);
}

// Another frame with the identifier of a changed slot (an earlier duplicate, a kept frame
// with an unknown encoding) would stand beside the new text and might win over it on the
// next read: it is left out. "WXXX" frames with other descriptions are distinct links and
// stay.
bool TDID3v2::StaleDuplicate(std::string_view id,
                             const std::array<bool, TextSlotCount>& changed) const {
    const uint8_t version = SaveVersion();
    int row = FindFrameRow(id, version);
    if (row < 0 && FindFrameRow(id, 7 - version) == RowYear)
        row = RowYear;
    return row >= 0 && row <= RowBPM && row != RowUserURL && changed[row];
}

std::string TDID3v2::BuildFrames(std::vector<TFileRange>& ranges) const {
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

    std::string out;
    for (size_t i = 0; i < FReadFrames.size(); ++i) {
        const TReadFrame& frame = FReadFrames[i];
        if (frame.Home == TFrameHome::fhSlot) {
            const int row = frame.Index;
            if (!changed[row])
                AppendStored(out, static_cast<int>(i), ranges);
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
        if (frame.Home == TFrameHome::fhUnsupport && StaleDuplicate(id, changed))
            continue;
        if (!ItemChanged(item, frame))
            AppendStored(out, static_cast<int>(i), ranges);
        else if (!item.Data.empty())
            AppendItem(out, item, frame.Home);
    }
    AppendNew(out, fresh, changed);
    return out;
}

// What is new goes behind the frames read: slots in table order, then comments, lyrics,
// pictures and other frames.
void TDID3v2::AppendNew(std::string& out, const std::array<std::string, TextSlotCount>& fresh,
                        const std::array<bool, TextSlotCount>& changed) const {
    const uint8_t version = SaveVersion();
    for (int row = 0; row <= RowBPM; ++row) {
        if (FSlotFrame[row] < 0 && !fresh[row].empty())
            AppendFrame(out, FrameIdTable[row][version - 2], fresh[row], 0, version);
    }
    for (const TFrameHome home : {TFrameHome::fhComments, TFrameHome::fhLyrics,
                                  TFrameHome::fhImages, TFrameHome::fhUnsupport}) {
        const TFrameLib& lib = *HomeLib(home);
        for (int i = 0; i < lib.Count(); ++i) {
            const TFrameItem& item = lib.Items(i);
            if (item.ReadFrame >= 0 || item.Data.empty())
                continue;
            if (home == TFrameHome::fhUnsupport &&
                StaleDuplicate(item.FrameID.size() == 3 ? V22ToV23FrameId(item.FrameID)
                                                        : std::string_view(item.FrameID),
                               changed))
                continue;
            AppendItem(out, item, home);
        }
    }
}

bool TDID3v2::Render(const TagInfo& current, TRenderedTag& out) const {
    out.Ranges.clear();
    const std::string frames = BuildFrames(out.Ranges);
    const int64_t copied = RangesSize(out.Ranges);
    int64_t total = TagHeaderSize + static_cast<int64_t>(frames.size()) + copied;
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
    bytes.reserve(static_cast<size_t>(total - copied));
    bytes += "ID3";
    bytes += static_cast<char>(version);
    bytes += static_cast<char>(sameVersion ? FReadRevision : 0);
    bytes += static_cast<char>(sameVersion ? (FReadFlags & TagFlagExperimental) : 0);
    for (int k = 3; k >= 0; --k)
        bytes += static_cast<char>(((total - TagHeaderSize) >> (7 * k)) & 0x7F);
    bytes += frames;
    bytes.resize(static_cast<size_t>(total - copied), '\0');
    for (TFileRange& range : out.Ranges)
        range.At += TagHeaderSize;
    return true;
}

bool TDID3v2::WriteTag(const std::string& fileName, TagInfo& tag) {
    TRenderedTag rendered;
    if (!Render(tag, rendered))
        return false;
    PaddingSize = rendered.Padding;
    tag.MustRebuild = !rendered.InPlace;
    const bool written = tag.MustRebuild
                             ? RebuildFile(fileName, rendered.Bytes, rendered.Ranges)
                             : WriteTagInPlace(fileName, rendered.Bytes, rendered.Ranges);
    if (written)
        Reanchor(fileName, rendered.Ranges);
    return written;
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
    if (FReadShort) {
        FNote = "The tag could not be read whole; a save would lose what was not read.";
        return false;
    }
    const auto lock = FRead.LockUnchanged(Fs, fileName);
    TagInfo tag;
    // Pictures passed over at the read are copied from the file read; a save into another
    // file needs their bytes first.
    if (!lock || (fileName != FRead.ReadPath() && !LoadPassedOver()) ||
        !ReadTagHeader(Fs, fileName, tag) || !WriteTag(fileName, tag))
        return false;
    FRead.Refresh(Fs, fileName);
    return true;
}

bool TDID3v2::RemoveFromFile(const std::string& fileName) {
    FNote.clear();
    const auto lock = FRead.LockUnchanged(Fs, fileName);
    // The object keeps its pictures for a later save, so their bytes must be had before
    // the tag that holds them goes.
    if (!lock || !LoadPassedOver() || !RebuildFile(fileName, std::nullopt))
        return false;
    Reanchor(fileName, {});
    FRead.Refresh(Fs, fileName);
    return true;
}

// After a write into the file read, the frames no longer stand where they were read: a
// body copied from the file is where the new tag put it; every other is known from memory.
void TDID3v2::Reanchor(const std::string& fileName, const std::vector<TFileRange>& ranges) {
    if (fileName != FRead.ReadPath())
        return;
    for (TReadFrame& frame : FReadFrames)
        frame.FileOffset = -1;
    int64_t copied = 0;
    for (const TFileRange& range : ranges) {
        FReadFrames[static_cast<size_t>(range.Frame)].FileOffset =
            static_cast<int64_t>(range.At) + copied;
        copied += range.Size;
    }
}

// Reads the picture bodies that the read passed over into memory, for a write that cannot
// copy them from the file read. Fails when that file has changed since.
bool TDID3v2::LoadPassedOver() {
    std::unique_ptr<TFile> file;
    for (size_t i = 0; i < FReadFrames.size(); ++i) {
        TReadFrame& frame = FReadFrames[i];
        const auto size = static_cast<size_t>(frame.FileSize);
        if (frame.Size >= size)
            continue;
        if (!file) {
            file = Fs.Open(FRead.ReadPath(), TOpenMode::omReadOnly);
            if (!file || !(file->Stamp() == FRead.ReadStamp())) {
                FNote = "The file changed after it was read, so its pictures cannot be kept.";
                return false;
            }
        }
        const std::string head(StoredBody(frame));
        const size_t offset = FReadBytes.Size();
        if (!file->ReadExactAt(frame.FileOffset, FReadBytes.Extend(offset + size),
                               frame.FileSize)) {
            FReadBytes.Truncate(offset);
            return false;
        }
        // The item still holding the first bytes as read takes the whole body.
        TFrameItem* item = frame.Home == TFrameHome::fhImages && frame.Index < Frames_Images.Count()
                               ? &Frames_Images.Items(frame.Index)
                               : nullptr;
        frame.Offset = offset;
        frame.Size = size;
        frame.FileOffset = -1;
        if (item && item->ReadFrame == static_cast<int>(i) && item->Data == head)
            item->Data = std::string(StoredBody(frame));
    }
    return true;
}

const std::string& TDID3v2::FailureNote() const {
    return FNote.empty() ? Fs.FailureNote() : FNote;
}

bool TDID3v2::WriteTagInPlace(const std::string& fileName, std::string_view tag,
                              const std::vector<TFileRange>& ranges) {
    // A read-only file is written all the same and keeps its permission bits.
    auto file = Fs.OpenForUpdate(fileName);
    if (!file)
        return false;
    // The new tag covers the old tag's space exactly, so the audio stays where it is. The
    // old bytes are kept first: a write that fails part-way (a failing disk, a full
    // copy-on-write file system) would otherwise leave half a tag in front of the audio.
    // The bodies copied from the file come out of them.
    const auto length = static_cast<int64_t>(tag.size()) + RangesSize(ranges);
    std::string old(static_cast<size_t>(length), '\0');
    if (!file->ReadExactAt(0, old.data(), length))
        return false;
    std::string assembled;
    std::string_view fresh = tag;
    if (!ranges.empty()) {
        if (!Assemble(tag, ranges, old, assembled))
            return false;
        fresh = assembled;
    }
    if (old == fresh)
        return file->Close(); // nothing changed: the file is left as it was
    bool written = true;
    for (size_t at = 0; written && at < fresh.size(); at += CompareBlock) {
        const size_t count = std::min(CompareBlock, fresh.size() - at);
        if (fresh.substr(at, count) != std::string_view(old).substr(at, count))
            written = file->WriteAt(static_cast<int64_t>(at), fresh.data() + at,
                                    static_cast<int64_t>(count));
    }
    // Once flushed, the new tag is on the disk: a close that reports an error then changes
    // nothing, and the save must not be reported as failed while the file holds it.
    if (written && file->Flush()) {
        file->Close();
        return true;
    }
    file->WriteAt(0, old.data(), length);
    file->Flush();
    return false;
}

bool TDID3v2::RebuildFile(const std::string& fileName, std::optional<std::string_view> tag,
                          const std::vector<TFileRange>& ranges) {
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
    // the original is never lost and keeps its links, owner, mode and attributes. The
    // bodies named by `ranges` are copied from the original, in the kernel where it can.
    const std::string_view bytes = tag.value_or(std::string_view());
    const auto tagLength = static_cast<int64_t>(bytes.size()) + RangesSize(ranges);
    return Fs.ReplaceContent(fileName, [&](TFile& target) {
        int64_t at = 0;
        size_t from = 0;
        for (const TFileRange& range : ranges) {
            const auto count = static_cast<int64_t>(range.At - from);
            if ((count > 0 && !target.WriteAt(at, bytes.data() + from, count)) ||
                !target.CopyFrom(*source, range.Offset, at + count, range.Size))
                return false;
            at += count + range.Size;
            from = range.At;
        }
        const auto rest = static_cast<int64_t>(bytes.size() - from);
        return (rest == 0 || target.WriteAt(at, bytes.data() + from, rest)) &&
               (size <= skip || target.CopyFrom(*source, skip, tagLength, size - skip));
    });
}

} // namespace cantorell
