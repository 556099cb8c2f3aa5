// Collections of ID3v2 frames that are not single text slots: comments, lyrics, pictures
// and the frames of no known kind, kept so that a save writes them back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cantorell {

// One frame. Comment and lyrics items hold their decoded UTF-8 text in Data, with the
// frame's language code and description beside it; picture and unsupported items hold the
// body as read (after undoing unsynchronisation, dropping the bytes the frame flags add and
// inflating a compressed body; an encrypted body, or one that does not inflate, as stored).
// A large picture read from a file is the exception: its body was passed over, and Data
// holds its first bytes (enough for its fields and the image's header) until the picture
// is changed; the tag object reads the rest from the file when it is wanted.
class TFrameItem {
public:
    explicit TFrameItem(int index) : FIndex(index) {}

    // Position in the owning collection; items are only appended, so it never changes.
    int Index() const { return FIndex; }

    std::string Data;
    // Comment and lyrics: the decoded description. Unsupported frames: the identifier.
    std::string Description;
    // Comment and lyrics: the three language bytes as read ("eng" is written when empty).
    std::string Language;
    std::string MIMEtype;
    int32_t NUMtype = 0;
    // As read: 3 characters from a 2.2 tag, 4 from 2.3 and 2.4; empty for new items.
    std::string FrameID;
    int32_t FrameSize = 0;
    // Status byte in the low 8 bits, format byte in the high 8 bits.
    uint16_t FrameFlags = 0;
    // The tag object's number for the frame this item was read from; -1 for a new item.
    int ReadFrame = -1;

private:
    int FIndex;
};

// An ordered collection that owns its items.
class TFrameLib {
public:
    TFrameLib() = default;
    TFrameLib(const TFrameLib&) = delete;
    TFrameLib& operator=(const TFrameLib&) = delete;

    // Appends an empty item at index Count() and returns it.
    TFrameItem& Add();
    int Count() const { return static_cast<int>(FItems.size()); }
    // The item at a 0-based index below Count().
    TFrameItem& Items(int index) { return *FItems.at(static_cast<size_t>(index)); }
    const TFrameItem& Items(int index) const { return *FItems.at(static_cast<size_t>(index)); }
    void Clear() { FItems.clear(); }

private:
    // Items are held by pointer so that a reference from Add() stays valid as more follow.
    std::vector<std::unique_ptr<TFrameItem>> FItems;
};

} // namespace cantorell
