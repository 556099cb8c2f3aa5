// What the file layer's sources share about the system calls under them. Internal to the
// file layer: nothing outside platform/ includes it.
#pragma once

#include "FileSystem.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>

namespace cantorell::posix {

// Retries a system call that was interrupted by a signal.
template <typename F> auto Retry(F call) {
    decltype(call()) result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

// Every descriptor is opened with O_NONBLOCK: opening a FIFO for reading would otherwise
// wait for a writer forever. Regular files ignore the flag.
inline constexpr int kOpenFlags = O_CLOEXEC | O_NONBLOCK;
// A read-only open checks what it opened with fstat instead of a stat by name before it:
// a device opened that way (non-blocking, never as the controlling terminal) is closed again
// untouched, and the check sees the very file that is then read.
inline constexpr int kReadOnlyFlags = O_RDONLY | O_NOCTTY | kOpenFlags;

inline TFileStamp StampOf(const struct stat& st) {
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
            static_cast<int64_t>(st.st_size),
            static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// errno for a path that exists but is no regular file.
inline int NotRegularError(const struct stat& st) {
    return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
}

// Opens `path` for reading and checks that it is a regular file; -1 with errno set when it
// is not (or cannot be opened).
int OpenRegularForReading(const std::string& path, struct stat& st);

} // namespace cantorell::posix
