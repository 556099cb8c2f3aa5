// The file a read pin holds open, with the blocks at its head and its tail as read.
// Internal to the file layer (see TFileSystem::Pin).
//
// Showing a file has three readers look at the same few places: the stream analysis reads
// the ID3v2 header, the first frames behind the tag and the last frames before an ID3v1
// record; the ID3v2 reader reads the header and the frames; the ID3v1 reader reads the last
// 128 bytes. One block at the head and one at the tail serve all of them for a common file,
// so the file is read twice instead of six or seven times. Larger reads elsewhere (a large
// tag's chunks) go to the file as before.
//
// The blocks live as long as the pin: every pin opens the file afresh and reads new blocks,
// and any call of the file system that changes a file, or locks it for a save, drops the
// pin first. So a save never works from bytes kept here.
#pragma once

#include "FileSystem.h"

#include <cstdint>
#include <memory>

namespace cantorell {

class TPinnedFile {
public:
    // Enough for the ID3v2 header, the first 16 KiB chunk of the tag behind it, and the
    // stream's first frames behind a tag of up to about 16 KiB.
    static constexpr int64_t HeadBlockSize = 20 * 1024;
    // The stream's search block before an ID3v1 record, and the record.
    static constexpr int64_t TailBlockSize = 4 * 1024;
    // A small read between the two blocks reads this much before and behind where it
    // starts, for the reads around it. Behind a large picture, the last frame of a tag,
    // the stream analysis reads the first frames after the tag's padding; the ID3v2 reader
    // then looks at the 10 bytes behind the picture to check a 2.4 frame's size and reads
    // the padding from there.
    static constexpr int64_t WindowBlockSize = 4 * 1024;

    TPinnedFile() = default;
    ~TPinnedFile() { Close(); }
    TPinnedFile(const TPinnedFile&) = delete;
    TPinnedFile& operator=(const TPinnedFile&) = delete;

    // Takes an open descriptor of a regular file and what its fstat said; the blocks of an
    // earlier file are forgotten (their memory is kept for the next file).
    void Take(int fd, const TFileStamp& stamp);
    void Close();
    bool IsOpen() const { return FFd >= 0; }
    int Fd() const { return FFd; }
    const TFileStamp& Stamp() const { return FStamp; }

    // Like TFile::ReadAt, from the blocks where the range lies in them, and never beyond the
    // size the pin saw (the size its readers are given).
    int64_t Read(TFileSystem& fs, int64_t offset, char* out, int64_t count);

private:
    struct TBlock {
        int64_t Begin = 0;
        int64_t End = 0;     // where the block ends in the file as the pin's fstat saw it
        int64_t Loaded = -1; // bytes read into it; -1 until the first read that needs it
        int64_t Capacity = 0;
        std::unique_ptr<char[]> Bytes;
    };
    bool Load(TFileSystem& fs, TBlock& block);
    TBlock* BlockAt(int64_t offset);

    int FFd = -1;
    TFileStamp FStamp;
    TBlock FHead;
    TBlock FTail;
    TBlock FWindow;
};

} // namespace cantorell
