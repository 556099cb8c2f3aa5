// The one door through which the tag code touches files.
//
// Every operation reports success as a Boolean and never throws. Offsets and sizes are
// 64-bit. A TFileSystem can be told to fail one chosen call (the Nth write, the flush,
// the rename, ...), so that tests can prove that a failed save leaves a file untouched;
// the process-wide Default() instance never fails on purpose.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace cantorell {

// The calls that can be made to fail. Each call of a kind is counted separately, from 1.
enum class TFileOp {
    foOpen,
    foSize,
    foRead,
    foWrite,
    foCopy,
    foTruncate,
    foFlush,
    foClose,
    foMakeWritable,
    foPermissions,
    foSetPermissions,
    foReplace,
    foRemove,
    foExists,
    foCount // number of kinds, not a call
};

enum class TOpenMode {
    omReadOnly,  // existing file, reading only
    omReadWrite, // existing file, reading and writing, never truncated or created
    omCreate     // new or emptied file for reading and writing (replaces an old one)
};

class TFile;

class TFileSystem {
public:
    TFileSystem() = default;
    TFileSystem(const TFileSystem&) = delete;
    TFileSystem& operator=(const TFileSystem&) = delete;

    // The real file system without injected failures, shared by all tag objects that are
    // not given one of their own.
    static TFileSystem& Default();

    // Makes the nth (1-based) future call of the given kind fail. An injected write failure
    // first writes half of its bytes, as a full disk would, then reports failure.
    void FailAt(TFileOp op, int nth);
    // Forgets injected failures and restarts the counts.
    void ResetFaults();
    // How many calls of a kind were made since construction or ResetFaults().
    int CallCount(TFileOp op) const { return Counts[Index(op)]; }

    std::unique_ptr<TFile> Open(const std::string& path, TOpenMode mode);
    bool Exists(const std::string& path);
    // Adds the owner's write permission and keeps every other permission bit.
    bool MakeWritable(const std::string& path);
    // The permission bits (rwx for owner, group, others, and the set-id and sticky bits).
    bool Permissions(const std::string& path, unsigned& mode);
    bool SetPermissions(const std::string& path, unsigned mode);
    // Puts `from` in the place of `to` in one atomic rename (same file system).
    bool Replace(const std::string& from, const std::string& to);
    bool Remove(const std::string& path);

    // Showing a file reads it three times in a row (stream, ID3v2, ID3v1). While a path is
    // pinned, read-only opens of exactly that path share one open file instead of opening,
    // checking and closing it again each time. Any call that changes a file drops the pin,
    // so a read after a save always sees the new file. Use TReadPin rather than these.
    void Pin(const std::string& path);
    void Unpin();

private:
    friend class TFile;
    static constexpr std::size_t Index(TFileOp op) { return static_cast<std::size_t>(op); }
    // Counts the call and tells whether it must fail.
    bool Fails(TFileOp op);

    std::array<int, static_cast<std::size_t>(TFileOp::foCount)> Counts{};
    std::array<int, static_cast<std::size_t>(TFileOp::foCount)> FailOn{};
    std::string PinnedPath;
    // Shared with every TFile handed out for the pin, so a reader that still holds one
    // keeps the file open even when the pin is dropped.
    std::shared_ptr<const int> PinnedFd;
    int64_t PinnedSize = -1;
};

// Pins a path of a file system for the lifetime of the object (see TFileSystem::Pin).
class TReadPin {
public:
    TReadPin(TFileSystem& fs, const std::string& path) : Fs(fs) { Fs.Pin(path); }
    ~TReadPin() { Fs.Unpin(); }
    TReadPin(const TReadPin&) = delete;
    TReadPin& operator=(const TReadPin&) = delete;

private:
    TFileSystem& Fs;
};

// An open file. Closed when destroyed; Close() reports whether closing succeeded.
class TFile {
public:
    // `size` is the size the opening fstat saw; -1 when unknown.
    TFile(TFileSystem& fs, int fd, int64_t size = -1) : Fs(fs), Fd(fd), KnownSize(size) {}
    // A file shared through a pin: the descriptor closes when its last holder lets go.
    TFile(TFileSystem& fs, std::shared_ptr<const int> shared, int64_t size)
        : Fs(fs), Fd(*shared), KnownSize(size), Shared(std::move(shared)) {}
    ~TFile();
    TFile(const TFile&) = delete;
    TFile& operator=(const TFile&) = delete;

    bool Size(int64_t& size);
    // Reads up to `count` bytes at `offset`; stops early only at the end of the file.
    // Returns the number of bytes read, or -1 on failure.
    int64_t ReadAt(int64_t offset, void* buffer, int64_t count);
    // True only when exactly `count` bytes were read.
    bool ReadExactAt(int64_t offset, void* buffer, int64_t count);
    // Writes all `count` bytes at `offset`, or reports failure.
    bool WriteAt(int64_t offset, const void* buffer, int64_t count);
    // Copies `count` bytes from `source` at `sourceOffset` to this file at `offset`, in the
    // kernel where it can (copy_file_range), otherwise through a large buffer.
    bool CopyFrom(TFile& source, int64_t sourceOffset, int64_t offset, int64_t count);
    bool Truncate(int64_t length);
    // Forces the data to the disk (fsync).
    bool Flush();
    bool SetPermissions(unsigned mode);
    bool Close();

private:
    TFileSystem& Fs;
    int Fd;
    // Readers ask for the size right after opening; the fstat that checked the file's type
    // already knows it, which saves a system call per reader. Writes forget it.
    int64_t KnownSize;
    std::shared_ptr<const int> Shared;
};

} // namespace cantorell
