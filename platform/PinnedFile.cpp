#include "PinnedFile.h"

#include "PosixCalls.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

namespace cantorell {

using posix::Retry;

int posix::OpenRegularForReading(const std::string& path, struct stat& st) {
    // The path is looked at before it is opened: opening a device can already act on it (a
    // watchdog arms itself, a tape drive rewinds when closed). The fstat below checks that
    // what was opened is still the regular file.
    if (::stat(path.c_str(), &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = NotRegularError(st);
        return -1;
    }
    const int fd = Retry([&] { return ::open(path.c_str(), kReadOnlyFlags); });
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISREG(st.st_mode) ? errno : NotRegularError(st);
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

void TPinnedFile::Take(int fd, const TFileStamp& stamp) {
    Close();
    FFd = fd;
    FStamp = stamp;
    const int64_t size = std::max<int64_t>(stamp.Size, 0);
    FHead.Begin = 0;
    FHead.End = std::min(size, HeadBlockSize);
    // A file too small for both blocks is served by the head alone.
    FTail.Begin = std::max(FHead.End, size - TailBlockSize);
    FTail.End = size;
}

void TPinnedFile::Close() {
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
    FHead.Loaded = FTail.Loaded = FWindow.Loaded = -1;
    FHead.End = FTail.Begin = FTail.End = 0;
}

TPinnedFile::TBlock* TPinnedFile::BlockAt(int64_t offset) {
    if (offset < FHead.End)
        return &FHead;
    if (offset >= FTail.Begin && offset < FTail.End)
        return &FTail;
    if (FWindow.Loaded >= 0 && offset >= FWindow.Begin && offset < FWindow.End)
        return &FWindow;
    return nullptr;
}

bool TPinnedFile::Load(TFileSystem& fs, TBlock& block) {
    if (block.Loaded >= 0)
        return true;
    const int64_t want = block.End - block.Begin;
    if (block.Capacity < want) {
        block.Bytes = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(want));
        block.Capacity = want;
    }
    const int64_t got = fs.ReadDisk(FFd, block.Begin, block.Bytes.get(), want);
    if (got < 0)
        return false;
    block.Loaded = got;
    return true;
}

int64_t TPinnedFile::Read(TFileSystem& fs, int64_t offset, char* out, int64_t count) {
    int64_t done = 0;
    while (done < count) {
        const int64_t at = offset + done;
        const int64_t left = count - done;
        TBlock* block = BlockAt(at);
        if (!block) {
            // The pinned file ends where its fstat said, like the size its readers are given.
            if (at >= FTail.End)
                break;
            const int64_t want = std::min(left, FTail.Begin - at);
            if (want < WindowBlockSize) {
                FWindow.Begin = std::max(FHead.End, at - WindowBlockSize);
                FWindow.End = std::min(FTail.Begin, at + WindowBlockSize);
                FWindow.Loaded = -1;
                block = &FWindow;
            } else {
                const int64_t got = fs.ReadDisk(FFd, at, out + done, want);
                if (got < 0)
                    return -1;
                done += got;
                if (got < want)
                    break;
                continue;
            }
        }
        if (!Load(fs, *block))
            return -1;
        const int64_t inBlock = std::min(left, block->End - at);
        // A block read short means the file was cut since it was opened: it ends there.
        const int64_t have = std::clamp<int64_t>(block->Begin + block->Loaded - at, 0, inBlock);
        std::memcpy(out + done, block->Bytes.get() + (at - block->Begin),
                    static_cast<size_t>(have));
        done += have;
        if (have < inBlock)
            break;
    }
    return done;
}

TFile::TFile(TFileSystem& fs, std::shared_ptr<TPinnedFile> pinned)
    : Fs(fs), Fd(pinned->Fd()), KnownSize(pinned->Stamp().Size), OpenStamp(pinned->Stamp()),
      Pinned(std::move(pinned)) {}

void TFileSystem::Pin(const std::string& path) {
    Unpin();
    struct stat st {};
    const int fd = posix::OpenRegularForReading(path, st);
    if (fd < 0)
        return;
    // The blocks' memory serves the next file too, unless a reader still holds the last one.
    if (!Pinned || Pinned.use_count() > 1)
        Pinned = std::make_shared<TPinnedFile>();
    Pinned->Take(fd, posix::StampOf(st));
    PinnedPath = path;
}

void TFileSystem::Unpin() {
    if (Pinned && Pinned.use_count() > 1)
        Pinned.reset();
    else if (Pinned)
        Pinned->Close();
    PinnedPath.clear();
}

} // namespace cantorell
