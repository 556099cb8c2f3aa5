#include "FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cantorell {

namespace {

constexpr unsigned kPermissionBits = 07777;
constexpr int64_t kCopyBlock = 1 << 20;

// Retries a system call that was interrupted by a signal.
template <typename F> auto Retry(F call) {
    decltype(call()) result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

} // namespace

TFileSystem& TFileSystem::Default() {
    static TFileSystem fs;
    return fs;
}

void TFileSystem::FailAt(TFileOp op, int nth) {
    FailOn[Index(op)] = Counts[Index(op)] + nth;
}

void TFileSystem::ResetFaults() {
    Counts.fill(0);
    FailOn.fill(0);
}

bool TFileSystem::Fails(TFileOp op) {
    const int count = ++Counts[Index(op)];
    if (FailOn[Index(op)] != 0 && count == FailOn[Index(op)]) {
        errno = EIO;
        return true;
    }
    return false;
}

void TFileSystem::Pin(const std::string& path) {
    Unpin();
    const int fd = Retry([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
    if (fd < 0)
        return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return;
    }
    PinnedPath = path;
    PinnedFd = std::shared_ptr<const int>(new int(fd), [](const int* held) {
        ::close(*held);
        delete held;
    });
    PinnedSize = st.st_size;
}

void TFileSystem::Unpin() {
    PinnedFd.reset();
    PinnedSize = -1;
    PinnedPath.clear();
}

std::unique_ptr<TFile> TFileSystem::Open(const std::string& path, TOpenMode mode) {
    if (Fails(TFileOp::foOpen))
        return nullptr;
    if (mode == TOpenMode::omReadOnly && PinnedFd && path == PinnedPath)
        return std::make_unique<TFile>(*this, PinnedFd, PinnedSize);
    if (mode != TOpenMode::omReadOnly)
        Unpin();
    int flags = O_CLOEXEC;
    switch (mode) {
    case TOpenMode::omReadOnly:
        flags |= O_RDONLY;
        break;
    case TOpenMode::omReadWrite:
        flags |= O_RDWR;
        break;
    case TOpenMode::omCreate:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    }
    const int fd = Retry([&] { return ::open(path.c_str(), flags, 0666); });
    if (fd < 0)
        return nullptr;
    // Only regular files are tag files; a folder opens read-only on Linux but is no file.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<TFile>(*this, fd, static_cast<int64_t>(st.st_size));
}

bool TFileSystem::Exists(const std::string& path) {
    if (Fails(TFileOp::foExists))
        return false;
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool TFileSystem::MakeWritable(const std::string& path) {
    if (Fails(TFileOp::foMakeWritable))
        return false;
    Unpin();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    if (st.st_mode & S_IWUSR)
        return true;
    return ::chmod(path.c_str(), (st.st_mode & kPermissionBits) | S_IWUSR) == 0;
}

bool TFileSystem::Permissions(const std::string& path, unsigned& mode) {
    if (Fails(TFileOp::foPermissions))
        return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    mode = st.st_mode & kPermissionBits;
    return true;
}

bool TFileSystem::SetPermissions(const std::string& path, unsigned mode) {
    if (Fails(TFileOp::foSetPermissions))
        return false;
    Unpin();
    return ::chmod(path.c_str(), mode & kPermissionBits) == 0;
}

bool TFileSystem::Replace(const std::string& from, const std::string& to) {
    if (Fails(TFileOp::foReplace))
        return false;
    Unpin();
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool TFileSystem::Remove(const std::string& path) {
    if (Fails(TFileOp::foRemove))
        return false;
    Unpin();
    return ::unlink(path.c_str()) == 0;
}

TFile::~TFile() {
    if (Fd >= 0 && !Shared)
        ::close(Fd);
}

bool TFile::Size(int64_t& size) {
    if (Fs.Fails(TFileOp::foSize))
        return false;
    if (KnownSize >= 0) {
        size = KnownSize;
        return true;
    }
    struct stat st {};
    if (::fstat(Fd, &st) != 0)
        return false;
    size = st.st_size;
    return true;
}

int64_t TFile::ReadAt(int64_t offset, void* buffer, int64_t count) {
    if (Fs.Fails(TFileOp::foRead) || offset < 0 || count < 0)
        return -1;
    auto* out = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const ssize_t n =
            Retry([&] { return ::pread(Fd, out + done, count - done, offset + done); });
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

bool TFile::ReadExactAt(int64_t offset, void* buffer, int64_t count) {
    return ReadAt(offset, buffer, count) == count;
}

bool TFile::WriteAt(int64_t offset, const void* buffer, int64_t count) {
    if (offset < 0 || count < 0)
        return false;
    KnownSize = -1;
    const auto* in = static_cast<const char*>(buffer);
    if (Fs.Fails(TFileOp::foWrite)) {
        // A full disk lets part of a write through before it refuses the rest.
        const int64_t half = count / 2;
        if (half > 0)
            Retry([&] { return ::pwrite(Fd, in, half, offset); });
        return false;
    }
    int64_t done = 0;
    while (done < count) {
        const ssize_t n =
            Retry([&] { return ::pwrite(Fd, in + done, count - done, offset + done); });
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool TFile::CopyFrom(TFile& source, int64_t sourceOffset, int64_t offset, int64_t count) {
    if (Fs.Fails(TFileOp::foCopy) || sourceOffset < 0 || offset < 0 || count < 0)
        return false;
    KnownSize = -1;
    off_t in = sourceOffset;
    off_t out = offset;
    int64_t left = count;
    // copy_file_range lets the kernel move the data (or share extents) without a trip
    // through user space; it is refused across some file systems, so fall back to blocks.
    while (left > 0) {
        const ssize_t n = Retry([&] {
            return ::copy_file_range(source.Fd, &in, Fd, &out, static_cast<size_t>(left), 0);
        });
        if (n <= 0)
            break;
        left -= n;
    }
    if (left == 0)
        return true;
    std::vector<char> block(static_cast<size_t>(std::min(left, kCopyBlock)));
    while (left > 0) {
        const int64_t want = std::min<int64_t>(left, static_cast<int64_t>(block.size()));
        const int64_t got = source.ReadAt(in, block.data(), want);
        if (got != want || !WriteAt(out, block.data(), got))
            return false;
        in += got;
        out += got;
        left -= got;
    }
    return true;
}

bool TFile::Truncate(int64_t length) {
    if (Fs.Fails(TFileOp::foTruncate) || length < 0)
        return false;
    KnownSize = -1;
    return Retry([&] { return ::ftruncate(Fd, length); }) == 0;
}

bool TFile::Flush() {
    if (Fs.Fails(TFileOp::foFlush))
        return false;
    return Retry([&] { return ::fsync(Fd); }) == 0;
}

bool TFile::SetPermissions(unsigned mode) {
    if (Fs.Fails(TFileOp::foSetPermissions))
        return false;
    return ::fchmod(Fd, mode & kPermissionBits) == 0;
}

bool TFile::Close() {
    const int fd = Fd;
    Fd = -1;
    if (Shared) {
        Shared.reset();
        return !Fs.Fails(TFileOp::foClose);
    }
    if (Fs.Fails(TFileOp::foClose)) {
        ::close(fd);
        return false;
    }
    return ::close(fd) == 0;
}

} // namespace cantorell
