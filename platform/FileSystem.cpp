#include "FileSystem.h"

#include "PinnedFile.h"
#include "PosixCalls.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace cantorell {

using posix::kOpenFlags;
using posix::NotRegularError;
using posix::Retry;
using posix::StampOf;

namespace {

constexpr unsigned kPermissionBits = 07777;
constexpr int64_t kCopyBlock = 1 << 20;
// Links followed before a path counts as a loop (the kernel's own limit).
constexpr int kMaxLinkHops = 40;
// The new file of a save is named ".<name>.tcsave-<pid>-<random>" beside the old one. The
// process number lets a later save tell a copy left by a killed process from one in use.
constexpr std::string_view kTempMarker = ".tcsave-";
// Long names are cut so that the temporary name stays within NAME_MAX.
constexpr size_t kTempNameKeep = 100;

// The status of the regular file `path` names (links followed); false with errno set when
// there is none or it is something else.
bool StatRegular(const std::string& path, struct stat& st) {
    if (::stat(path.c_str(), &st) != 0)
        return false;
    if (S_ISREG(st.st_mode))
        return true;
    errno = NotRegularError(st);
    return false;
}

void SplitPath(const std::string& path, std::string& folder, std::string& name) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder = ".";
        name = path;
    } else {
        folder = slash == 0 ? "/" : path.substr(0, slash);
        name = path.substr(slash + 1);
    }
}

// Follows symbolic links to the path of the file they end at (which need not exist).
bool ResolveLinks(const std::string& path, std::string& target) {
    target = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0)
            return errno == ENOENT;
        if (!S_ISLNK(st.st_mode))
            return true;
        std::string link(static_cast<size_t>(std::max<off_t>(st.st_size, 0)) + 256, '\0');
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
        if (n < 0)
            return false;
        link.resize(static_cast<size_t>(n));
        if (link.empty()) {
            errno = ENOENT;
            return false;
        }
        if (link.front() != '/') {
            std::string folder, name;
            SplitPath(target, folder, name);
            link = folder + "/" + link;
        }
        target = std::move(link);
    }
    errno = ELOOP;
    return false;
}

// Whether this process may give a new file the owner and group of `st`.
bool CanGiveOwner(const struct stat& st) {
    if (::geteuid() == 0)
        return true;
    if (st.st_uid != ::geteuid())
        return false;
    if (st.st_gid == ::getegid())
        return true;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<size_t>(std::max(count, 0)));
    const int got = ::getgroups(count, groups.data());
    return got > 0 &&
           std::find(groups.begin(), groups.begin() + got, st.st_gid) != groups.begin() + got;
}

// The process's file-creation mask, read without changing it.
mode_t CurrentUmask() {
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        while (std::fgets(line, sizeof line, status)) {
            if (std::sscanf(line, "Umask: %o", &mask) == 1) {
                std::fclose(status);
                return static_cast<mode_t>(mask);
            }
        }
        std::fclose(status);
    }
    return 022;
}

// "$XDG_CACHE_HOME/tagcantorell" or "~/.cache/tagcantorell", created private when missing;
// empty when there is no home.
std::string CacheFolder() {
    std::string base;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/')
        base = cache;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.cache";
    else
        return {};
    ::mkdir(base.c_str(), 0700);
    const std::string folder = base + "/tagcantorell";
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    return folder;
}

std::string TempPrefix(const std::string& name) {
    return "." + name.substr(0, kTempNameKeep) + std::string(kTempMarker);
}

// Creates a new file no one else can have opened or planted: O_EXCL refuses any existing
// path (a planted link included), O_NOFOLLOW any link, and mode 0600 keeps a private file's
// content private while it is written.
int CreateUniqueFile(const std::string& folder, const std::string& name, std::string& path) {
    static std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char tail[40];
        std::snprintf(tail, sizeof tail, "%ld-%016llx", static_cast<long>(::getpid()),
                      static_cast<unsigned long long>(random()));
        path = folder + "/" + TempPrefix(name) + tail;
        const int fd = Retry([&] {
            return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | kOpenFlags, 0600);
        });
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Removes new files of earlier saves of `name` whose process is gone (killed during a
// save): they are ours, the user's own, and no one will ever rename them.
void RemoveStaleTemporaries(const std::string& folder, const std::string& name) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return;
    const std::string prefix = TempPrefix(name);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view entryName(entry->d_name);
        if (!entryName.starts_with(prefix))
            continue;
        const std::string rest(entryName.substr(prefix.size()));
        char* end = nullptr;
        const long pid = std::strtol(rest.c_str(), &end, 10);
        if (pid <= 0 || end == rest.c_str() || *end != '-' || pid == ::getpid())
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

// Copies every extended attribute of `from` to the open file `to`. POSIX ACLs are the
// attributes system.posix_acl_access and system.posix_acl_default, so they come along.
bool CopyAttributes(const std::string& from, int to) {
    ssize_t listSize = ::llistxattr(from.c_str(), nullptr, 0);
    if (listSize < 0)
        return errno == ENOTSUP; // a file system without attributes has none to lose
    std::string names(static_cast<size_t>(listSize), '\0');
    listSize = ::llistxattr(from.c_str(), names.data(), names.size());
    if (listSize < 0)
        return false;
    names.resize(static_cast<size_t>(listSize));
    for (size_t at = 0; at < names.size();) {
        const std::string attribute = names.c_str() + at;
        at += attribute.size() + 1;
        if (attribute.empty())
            continue;
        ssize_t size = ::lgetxattr(from.c_str(), attribute.c_str(), nullptr, 0);
        if (size < 0)
            return false;
        std::string value(static_cast<size_t>(size), '\0');
        size = ::lgetxattr(from.c_str(), attribute.c_str(), value.data(), value.size());
        if (size < 0 ||
            ::fsetxattr(to, attribute.c_str(), value.data(), static_cast<size_t>(size), 0) != 0)
            return false;
    }
    return true;
}

bool FlushFolder(const std::string& folder) {
    const int fd =
        Retry([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0)
        return false;
    const bool ok = Retry([&] { return ::fsync(fd); }) == 0;
    ::close(fd);
    return ok;
}

// Keeps errno across clean-up calls, so that a failure reports its first cause.
class TKeepErrno {
public:
    TKeepErrno() : Saved(errno) {}
    ~TKeepErrno() { errno = Saved; }
    TKeepErrno(const TKeepErrno&) = delete;
    TKeepErrno& operator=(const TKeepErrno&) = delete;

private:
    int Saved;
};

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

std::unique_ptr<TFile> TFileSystem::Open(const std::string& path, TOpenMode mode) {
    if (Fails(TFileOp::foOpen))
        return nullptr;
    struct stat st {};
    if (mode == TOpenMode::omReadOnly) {
        if (Pinned && Pinned->IsOpen() && path == PinnedPath)
            return std::make_unique<TFile>(*this, Pinned);
        const int fd = posix::OpenRegularForReading(path, st);
        return fd < 0 ? nullptr : std::make_unique<TFile>(*this, fd, StampOf(st));
    }
    Unpin();
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        errno = NotRegularError(st);
        return nullptr;
    }
    int flags = kOpenFlags;
    switch (mode) {
    case TOpenMode::omReadOnly:
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
    // Only regular files are tag files; a folder opens read-only on Linux but is no file,
    // and the path may have changed since the check above.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISREG(st.st_mode) ? errno : NotRegularError(st);
        ::close(fd);
        errno = error;
        return nullptr;
    }
    return std::make_unique<TFile>(*this, fd, StampOf(st));
}

std::unique_ptr<TFile> TFileSystem::OpenForUpdate(const std::string& path) {
    if (Fails(TFileOp::foOpen))
        return nullptr;
    Unpin();
    struct stat st {};
    if (!StatRegular(path, st))
        return nullptr;
    int fd = Retry([&] { return ::open(path.c_str(), O_RDWR | kOpenFlags); });
    if (fd < 0 && errno == EACCES && !(st.st_mode & S_IWUSR) && st.st_uid == ::geteuid()) {
        // The user's own read-only file. The write bit is needed only to open it: it is
        // taken away again at once, and the open descriptor writes all the same.
        if (Fails(TFileOp::foMakeWritable))
            return nullptr;
        const int reader = Retry([&] { return ::open(path.c_str(), O_RDONLY | kOpenFlags); });
        if (reader < 0)
            return nullptr;
        struct stat held {};
        if (::fstat(reader, &held) == 0 && held.st_ino == st.st_ino &&
            ::fchmod(reader, (held.st_mode & kPermissionBits) | S_IWUSR) == 0) {
            fd = Retry([&] { return ::open(path.c_str(), O_RDWR | kOpenFlags); });
            const TKeepErrno keep;
            ::fchmod(reader, held.st_mode & kPermissionBits);
        }
        ::close(reader);
    }
    if (fd < 0)
        return nullptr;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return nullptr;
    }
    return std::make_unique<TFile>(*this, fd, StampOf(st));
}

bool TFileSystem::Stamp(const std::string& path, TFileStamp& stamp) {
    struct stat st {};
    if (!StatRegular(path, st))
        return false;
    stamp = StampOf(st);
    return true;
}

// The file a replacement is for, as it was before anything was written.
struct TFileSystem::TReplaceTarget {
    std::string Path; // links resolved
    std::string Folder;
    struct stat Stat {};
    bool Exists = false;
};

bool TFileSystem::ReplaceContent(const std::string& path, const TContentWriter& write,
                                 TReplaceOptions options) {
    Note.clear();
    Unpin();
    TReplaceTarget target;
    if (!ResolveLinks(path, target.Path))
        return false;
    const struct stat& st = target.Stat;
    target.Exists = ::lstat(target.Path.c_str(), &target.Stat) == 0;
    if (target.Exists && !S_ISREG(st.st_mode)) {
        errno = NotRegularError(st);
        Note = "It is not a regular file.";
        return false;
    }
    if (!target.Exists && (errno != ENOENT || !options.CreateMissing))
        return false;
    std::string name;
    SplitPath(target.Path, target.Folder, name);
    const bool folderWritable = ::faccessat(AT_FDCWD, target.Folder.c_str(), W_OK, AT_EACCESS) == 0;
    // A rename gives the name a new file: other hard links would keep the old content, and
    // an owner the user cannot give would be lost. Those files are written in place.
    bool inPlace = target.Exists && (st.st_nlink > 1 || !CanGiveOwner(st) || !folderWritable);
    if (folderWritable)
        RemoveStaleTemporaries(target.Folder, name);
    const std::string copyFolder = folderWritable ? target.Folder : CacheFolder();
    if (copyFolder.empty() || Fails(TFileOp::foOpen))
        return false;
    std::string tempPath;
    const int fd = CreateUniqueFile(copyFolder, name, tempPath);
    if (fd < 0)
        return false;
    auto temp = std::make_unique<TFile>(*this, fd);
    if (write(*temp) && AdoptIdentity(target, *temp, fd, inPlace)) {
        if (inPlace)
            return ReplaceInPlace(target.Path, std::move(temp), tempPath);
        if (RenameOver(target, *temp, fd, tempPath, options.Flush))
            return true;
    }
    const TKeepErrno keep;
    temp.reset();
    ::unlink(tempPath.c_str());
    return false;
}

// Gives the new file what the old one is: its owner and group, mode bits and extended
// attributes, or, for a new file, the mode the process's mask allows. Where a rename would
// lose one of them, `inPlace` is set: the original then keeps them by a write into it.
bool TFileSystem::AdoptIdentity(const TReplaceTarget& target, TFile& temp, int fd, bool& inPlace) {
    const struct stat& st = target.Stat;
    if (!target.Exists)
        return temp.SetPermissions(0666 & ~CurrentUmask());
    if (inPlace)
        return true;
    struct stat made {};
    if (::fstat(fd, &made) != 0)
        return false;
    if (made.st_uid != st.st_uid || made.st_gid != st.st_gid) {
        if (Fails(TFileOp::foOwner))
            return false;
        // Root may still be refused (a network file system that maps root to nobody,
        // a user namespace): the original then keeps its owner by a write in place.
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
            if (errno != EPERM)
                return false;
            inPlace = true;
            return true;
        }
    }
    // After the owner: changing the owner clears the set-id bits.
    if (!temp.SetPermissions(st.st_mode & kPermissionBits) || Fails(TFileOp::foAttributes))
        return false;
    if (!CopyAttributes(target.Path, fd)) {
        // An attribute the user may not set (a security label, a trusted one) would be
        // lost by a rename; the original keeps it when written in place.
        if (errno != EPERM && errno != EACCES && errno != ENOTSUP)
            return false;
        inPlace = true;
    }
    return true;
}

// Flushes the complete new file and renames it over the target.
bool TFileSystem::RenameOver(const TReplaceTarget& target, TFile& temp, int fd,
                             const std::string& tempPath, bool flush) {
    if (flush && !temp.Flush())
        return false;
    // A lock on the old file is handed on to the new one before it takes the name, so that
    // a save waiting for the lock never sees the new file unlocked.
    auto held = std::find_if(Held.begin(), Held.end(), [&](const THeldLock& lock) {
        return target.Exists && lock.Device == static_cast<uint64_t>(target.Stat.st_dev) &&
               lock.Inode == static_cast<uint64_t>(target.Stat.st_ino);
    });
    int heldFd = -1;
    if (held != Held.end()) {
        heldFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (heldFd < 0)
            return false;
        ::flock(heldFd, LOCK_EX | LOCK_NB); // nobody else knows the file yet
    }
    if (!temp.Close() || Fails(TFileOp::foReplace) ||
        ::rename(tempPath.c_str(), target.Path.c_str()) != 0) {
        const TKeepErrno keep;
        if (heldFd >= 0)
            ::close(heldFd);
        return false;
    }
    if (held != Held.end()) {
        struct stat made {};
        ::fstat(heldFd, &made);
        ::close(held->Fd);
        held->Fd = heldFd;
        held->Device = static_cast<uint64_t>(made.st_dev);
        held->Inode = static_cast<uint64_t>(made.st_ino);
    }
    // The rename is done and cannot be taken back: a folder that fails to flush leaves the
    // new content in place, and the save counts as done.
    if (flush && !Fails(TFileOp::foFolderFlush))
        FlushFolder(target.Folder);
    return true;
}

bool TFileSystem::ReplaceInPlace(const std::string& target, std::unique_ptr<TFile> copy,
                                 const std::string& copyPath) {
    auto drop = [&] {
        const TKeepErrno keep;
        copy.reset();
        ::unlink(copyPath.c_str());
        return false;
    };
    // The complete new file reaches the disk before the original is touched: should the
    // copy back be interrupted, it is there to recover from.
    int64_t length = 0;
    if (!copy->Flush() || !copy->Size(length))
        return drop();
    auto original = OpenForUpdate(target);
    if (!original)
        return drop();
    if (!original->CopyFrom(*copy, 0, 0, length) || !original->Truncate(length) ||
        !original->Flush() || !original->Close()) {
        const TKeepErrno keep;
        Note = "A complete copy of the new file is kept in \"" + copyPath + "\".";
        return false;
    }
    copy.reset();
    ::unlink(copyPath.c_str());
    return true;
}

bool TFileSystem::UnchangedSince(const std::string& path, const std::string& readPath,
                                 const TFileStamp& stamp) {
    TFileStamp now;
    if (path != readPath || !stamp.Valid() || (Stamp(path, now) && now == stamp))
        return true;
    Note = "The file was changed by another program since it was read.";
    errno = EBUSY;
    return false;
}

std::unique_ptr<TFileLock> TFileSystem::LockFile(const std::string& path) {
    // A save reads what it keeps under its lock, from the file as it is then.
    Unpin();
    Note.clear();
    if (Fails(TFileOp::foLock))
        return nullptr;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(LockTimeoutMs);
    for (;;) {
        const int fd = Retry([&] { return ::open(path.c_str(), O_RDONLY | kOpenFlags); });
        if (fd < 0)
            return nullptr;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            const int error = S_ISREG(st.st_mode) ? errno : NotRegularError(st);
            ::close(fd);
            errno = error;
            return nullptr;
        }
        const auto device = static_cast<uint64_t>(st.st_dev);
        const auto inode = static_cast<uint64_t>(st.st_ino);
        for (THeldLock& lock : Held) {
            if (lock.Device == device && lock.Inode == inode) {
                ::close(fd);
                ++lock.Depth;
                return std::make_unique<TFileLock>(*this, lock.Id);
            }
        }
        if (Retry([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
            const int error = errno;
            ::close(fd);
            if (error != EWOULDBLOCK) {
                // A file system without locks (some network ones): saves go on unserialised.
                Held.push_back({++LastLockId, device, inode, -1, 1});
                return std::make_unique<TFileLock>(*this, LastLockId);
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                Note = "Another program is saving the file.";
                errno = EWOULDBLOCK;
                return nullptr;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        // The holder before may have replaced the file: the lock is then on a file that no
        // longer has the name, and the new one must be locked instead.
        struct stat now {};
        if (::stat(path.c_str(), &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino) {
            ::close(fd);
            continue;
        }
        Held.push_back({++LastLockId, device, inode, fd, 1});
        return std::make_unique<TFileLock>(*this, LastLockId);
    }
}

void TFileSystem::Release(int id) {
    auto it = std::find_if(Held.begin(), Held.end(),
                           [id](const THeldLock& lock) { return lock.Id == id; });
    if (it == Held.end() || --it->Depth > 0)
        return;
    if (it->Fd >= 0)
        ::close(it->Fd);
    Held.erase(it);
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
    if (Fd >= 0 && !Pinned)
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

int64_t TFileSystem::ReadDisk(int fd, int64_t offset, char* out, int64_t count) {
    if (Fails(TFileOp::foDiskRead))
        return -1;
    int64_t done = 0;
    while (done < count) {
        const ssize_t n =
            Retry([&] { return ::pread(fd, out + done, count - done, offset + done); });
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

int64_t TFile::ReadAt(int64_t offset, void* buffer, int64_t count) {
    if (Fs.Fails(TFileOp::foRead) || offset < 0 || count < 0)
        return -1;
    auto* out = static_cast<char*>(buffer);
    return Pinned ? Pinned->Read(Fs, offset, out, count) : Fs.ReadDisk(Fd, offset, out, count);
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
    if (Pinned) {
        Pinned.reset();
        return !Fs.Fails(TFileOp::foClose);
    }
    if (Fs.Fails(TFileOp::foClose)) {
        ::close(fd);
        return false;
    }
    return ::close(fd) == 0;
}

} // namespace cantorell
