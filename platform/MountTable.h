// The kernel's mount table as text, and which of its mounts a desktop user would open.
//
// Pure functions over the text of /proc/self/mountinfo, with no Qt, so the parser can be
// fuzzed and tested on tables of any shape.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cantorell {

// One line of /proc/self/mountinfo, reduced to what decides whether a user would open it.
struct TMountEntry {
    std::string RootPath;       // the mount point, escapes decoded
    std::string Device;         // the mount source: /dev/sdb1, server:/export, //host/share
    std::string FileSystemType; // ext4, vfat, nfs4, fuse.sshfs, ...
};

// The entries of a mountinfo text in mount order. The line format is
//   id parent major:minor root mount-point options [optional fields...] - type source super
// with blanks, tabs, newlines and backslashes in paths written as octal escapes (\040).
// Lines without the "-" separator or with too few fields are skipped.
std::vector<TMountEntry> ParseMountInfo(std::string_view text);

bool IsNetworkFileSystem(std::string_view type);

// Whether a mount is one a user would open from the Computer node: not a pseudo or system
// file system, not hidden below a dot folder, and either below /media, /run/media, /mnt or
// the user's home folder, or a network file system outside the system's own folders. The
// root file system is shown separately and is not judged here.
bool IsUserVolume(const TMountEntry& entry, const std::string& home);

// A udev by-label name with its \xHH escapes decoded ("My\x20Disk" is "My Disk").
std::string DecodeLabel(std::string_view name);

} // namespace cantorell
