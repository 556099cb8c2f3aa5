// The one door through which the tag code, the options store and the registry service touch
// files.
//
// Every operation reports success as a Boolean and never throws. Offsets and sizes are
// 64-bit. Reads accept regular files only and open them without blocking, so a FIFO or a
// device named like an MP3 file is refused at once instead of hanging or being consumed.
// Every save that rebuilds a file goes through ReplaceContent, which keeps what the file is
// (its links, owner, group, mode, extended attributes and ACLs); saves of one file are
// serialised through LockFile. A TFileSystem can be told to fail one chosen call (the Nth write,
// the flush, the rename, ...), so that tests can prove that a failed save leaves a file untouched;
// the process-wide Default() instance never fails on purpose.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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
    foLock,        // the advisory lock of a save
    foOwner,       // giving a replacement the old file's owner and group
    foAttributes,  // copying extended attributes (and with them ACLs)
    foFolderFlush, // flushing the folder after a rename
    foDiskRead,    // a read the kernel answers (a pinned file's blocks answer some without one)
    foCount        // number of kinds, not a call
};

enum class TOpenMode {
    omReadOnly,  // existing file, reading only
    omReadWrite, // existing file, reading and writing, never truncated or created
    omCreate     // new or emptied file for reading and writing (replaces an old one)
};

class TFile;
class TFileLock;
class TPinnedFile;

// What identifies a file's content as it was read: a save checks it again under its lock,
// so that a change made by another program in between is not overwritten unseen.
struct TFileStamp {
    uint64_t Device = 0;
    uint64_t Inode = 0;
    int64_t Size = -1;
    int64_t ModifiedNs = 0;

    bool Valid() const { return Size >= 0; }
    bool operator==(const TFileStamp&) const = default;
};

// How ReplaceContent treats a target that does not exist, and whether it flushes.
struct TReplaceOptions {
    // The options store and the registry create their files; a tag save never does.
    bool CreateMissing = false;
    // False skips both flushes (the registry's lazy-write mode).
    bool Flush = true;
};

// Writes the whole new content of a file into `out`, from offset 0.
using TContentWriter = std::function<bool(TFile& out)>;

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
    // Opens an existing regular file for writing in place. A file of the user's own that
    // lacks the owner's write bit gets it only for the open and loses it again at once: the
    // file keeps its permission bits whatever the save does next.
    std::unique_ptr<TFile> OpenForUpdate(const std::string& path);
    bool Exists(const std::string& path);
    // The stamp of the file a path names now (following links); false when there is none.
    bool Stamp(const std::string& path, TFileStamp& stamp);

    // Puts new content in the place of the regular file `path`:
    //  - a symbolic link is followed and its target gets the content; the link stays;
    //  - anything but a regular file is refused before a byte is written;
    //  - `write` fills a new file of a unique name beside the target, created exclusively
    //    with mode 0600; it then gets the old file's owner, group, mode bits and extended
    //    attributes (ACLs are attributes too), is flushed and renamed over the target, and
    //    the folder is flushed;
    //  - when a rename would lose what the file is (a second hard link, an owner or group
    //    the user cannot give, a folder the user may not write), the complete new content
    //    is first written and flushed to such a file (in the user's cache folder when the
    //    target's folder is read-only) and then copied into the original file. Should that
    //    copy fail, the complete file stays and FailureNote() names it.
    // On any other failure the target is untouched and no new file is left behind.
    bool ReplaceContent(const std::string& path, const TContentWriter& write,
                        TReplaceOptions options = {});
    bool ReplaceContent(const std::string& path, std::string_view bytes,
                        TReplaceOptions options = {});

    // Takes the exclusive advisory lock (flock) that every save of `path` holds for its
    // read-modify-write; waits while another process holds it, up to LockTimeoutMs. Locks
    // of one file within this file system nest. Null when the file cannot be locked; a
    // file system without locks gives a lock that holds nothing.
    std::unique_ptr<TFileLock> LockFile(const std::string& path);
    int LockTimeoutMs = 30000;

    // Whether `path` is still as it was when read: true unless it is `readPath`, read with
    // `stamp`, and now differs (another program changed it; a failure notes that).
    bool UnchangedSince(const std::string& path, const std::string& readPath,
                        const TFileStamp& stamp);

    // A sentence on why the last ReplaceContent or LockFile failed, when errno alone does
    // not say it (empty otherwise).
    const std::string& FailureNote() const { return Note; }
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
    // checking and closing it again each time, and the reads share one block at the file's
    // head and one at its tail, each read once when first needed. Any call that changes a
    // file, and taking a save's lock, drops the pin, so a read after a save always sees the
    // new file and a save never works from kept bytes. Use TReadPin rather than these.
    void Pin(const std::string& path);
    void Unpin();

private:
    friend class TFile;
    friend class TFileLock;
    friend class TPinnedFile;
    struct THeldLock {
        int Id = 0;
        uint64_t Device = 0;
        uint64_t Inode = 0;
        int Fd = -1;
        int Depth = 0;
    };
    struct TReplaceTarget;
    bool AdoptIdentity(const TReplaceTarget& target, TFile& temp, int fd, bool& inPlace);
    bool RenameOver(const TReplaceTarget& target, TFile& temp, int fd, const std::string& tempPath,
                    bool flush);
    bool ReplaceInPlace(const std::string& target, std::unique_ptr<TFile> copy,
                        const std::string& copyPath);
    void Release(int id);
    // One positioned read of the kernel (pread, on until `count` or the end of the file).
    int64_t ReadDisk(int fd, int64_t offset, char* out, int64_t count);

    static constexpr std::size_t Index(TFileOp op) { return static_cast<std::size_t>(op); }
    // Counts the call and tells whether it must fail.
    bool Fails(TFileOp op);

    std::array<int, static_cast<std::size_t>(TFileOp::foCount)> Counts{};
    std::array<int, static_cast<std::size_t>(TFileOp::foCount)> FailOn{};
    std::string PinnedPath;
    // Shared with every TFile handed out for the pin, so a reader that still holds one
    // keeps the file open even when the pin is dropped.
    std::shared_ptr<TPinnedFile> Pinned;
    std::vector<THeldLock> Held;
    int LastLockId = 0;
    std::string Note;
};

// An exclusive lock on a file, released when destroyed (see TFileSystem::LockFile).
class TFileLock {
public:
    TFileLock(TFileSystem& fs, int id) : Fs(fs), Id(id) {}
    ~TFileLock() { Fs.Release(Id); }
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;

private:
    TFileSystem& Fs;
    // The held lock this one belongs to; a replacement hands it on to the new file.
    int Id;
};

// What a tag object read and how the file was then, so that its save refuses a file that
// another program changed in between instead of overwriting the change unseen.
class TReadStamp {
public:
    void Take(const std::string& path, const TFileStamp& stamp) {
        Path = path;
        Stamp = stamp;
    }
    void Forget() { Stamp = {}; }
    const std::string& ReadPath() const { return Path; }
    const TFileStamp& ReadStamp() const { return Stamp; }
    // The save lock of `path`; null when it cannot be had or the file changed since the
    // read (a path this object did not read counts as unchanged).
    std::unique_ptr<TFileLock> LockUnchanged(TFileSystem& fs, const std::string& path) const {
        auto lock = fs.LockFile(path);
        if (lock && !fs.UnchangedSince(path, Path, Stamp))
            lock.reset();
        return lock;
    }
    // After the object's own save: its change is no stranger's, so a second save without a
    // read goes on.
    void Refresh(TFileSystem& fs, const std::string& path) {
        if (path == Path && Stamp.Valid() && !fs.Stamp(path, Stamp))
            Stamp = {};
    }

private:
    std::string Path;
    TFileStamp Stamp;
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
    // `stamp` is what the opening fstat saw (its size is reused); invalid when unknown.
    TFile(TFileSystem& fs, int fd, TFileStamp stamp = {})
        : Fs(fs), Fd(fd), KnownSize(stamp.Size), OpenStamp(stamp) {}
    // A file shared through a pin: the descriptor closes when its last holder lets go.
    TFile(TFileSystem& fs, std::shared_ptr<TPinnedFile> pinned);
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
    // The file as it was when opened.
    const TFileStamp& Stamp() const { return OpenStamp; }

private:
    friend class TFileSystem;
    TFileSystem& Fs;
    int Fd;
    // Readers ask for the size right after opening; the fstat that checked the file's type
    // already knows it, which saves a system call per reader. Writes forget it.
    int64_t KnownSize;
    TFileStamp OpenStamp;
    std::shared_ptr<TPinnedFile> Pinned;
};

inline bool TFileSystem::ReplaceContent(const std::string& path, std::string_view bytes,
                                        TReplaceOptions options) {
    return ReplaceContent(
        path,
        [bytes](TFile& out) {
            return out.WriteAt(0, bytes.data(), static_cast<int64_t>(bytes.size()));
        },
        options);
}

} // namespace cantorell
