#include "platform/Shell.h"
#include "platform/MountWatcher.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace cantorell {
namespace {

// --- the mount table -----------------------------------------------------------------------

TEST(MountInfo, LinesGiveMountPointSourceAndTypeInOrder) {
    const std::string table =
        "26 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
        "90 26 8:17 / /media/ann/My\\040Stick rw,nosuid shared:50 master:3 - vfat /dev/sdb1 rw\n"
        "91 26 0:55 / /mnt/back\\134slash rw - nfs4 server:/export rw,vers=4.2\n"
        "92 26 0:56 / /no/type rw\n"
        "garbage\n"
        "\n"
        "93 26 0:57 / /home/ann/remote rw - fuse.sshfs ann@host:/srv rw";
    const std::vector<TMountEntry> entries = ParseMountInfo(table);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].RootPath, "/");
    EXPECT_EQ(entries[0].Device, "/dev/sda2");
    EXPECT_EQ(entries[1].RootPath, "/media/ann/My Stick");
    EXPECT_EQ(entries[1].FileSystemType, "vfat");
    EXPECT_EQ(entries[1].Device, "/dev/sdb1");
    EXPECT_EQ(entries[2].RootPath, "/mnt/back\\slash");
    EXPECT_EQ(entries[2].Device, "server:/export");
    EXPECT_EQ(entries[3].FileSystemType, "fuse.sshfs");
}

TEST(MountInfo, TruncatedAndHostileTextIsSkippedNotMisread) {
    EXPECT_TRUE(ParseMountInfo("").empty());
    EXPECT_TRUE(ParseMountInfo("1 2 3 4 5 6 -").empty());
    EXPECT_TRUE(ParseMountInfo("1 2 - 4 5 6 7 8").empty());
    EXPECT_EQ(ParseMountInfo("1 2 3 4 /a\\04 6 - t s").at(0).RootPath, "/a\\04");
    EXPECT_EQ(ParseMountInfo("1 2 3 4 /a\\999 6 - t s").at(0).RootPath, "/a\\999");
}

struct TVolumeCase {
    const char* Path;
    const char* Type;
    bool Shown;
};

void PrintTo(const TVolumeCase& c, std::ostream* out) {
    *out << c.Type << " on " << c.Path;
}

class UserVolume : public ::testing::TestWithParam<TVolumeCase> {};

TEST_P(UserVolume, IsShownOnlyWhenAUserWouldOpenIt) {
    const TVolumeCase& c = GetParam();
    EXPECT_EQ(IsUserVolume(TMountEntry{c.Path, "/dev/x", c.Type}, "/home/ann"), c.Shown)
        << c.Path << " " << c.Type;
}

INSTANTIATE_TEST_SUITE_P(
    Mounts, UserVolume,
    ::testing::Values(
        TVolumeCase{"/media/ann/STICK", "vfat", true},
        TVolumeCase{"/run/media/ann/Disk", "ext4", true}, TVolumeCase{"/mnt/music", "ext4", true},
        TVolumeCase{"/home/ann/remote", "fuse.sshfs", true},
        TVolumeCase{"/srv/share", "nfs4", true}, TVolumeCase{"/data", "cifs", true},
        TVolumeCase{"/", "ext4", false}, TVolumeCase{"/boot/efi", "vfat", false},
        TVolumeCase{"/home", "ext4", false}, TVolumeCase{"/home/ann", "ext4", false},
        TVolumeCase{"/home/annex/x", "ext4", false}, TVolumeCase{"/mnt", "ext4", false},
        TVolumeCase{"/media/ann/.hidden", "vfat", false},
        TVolumeCase{"/home/ann/.cache/doc", "fuse.portal", false},
        TVolumeCase{"/run/user/1000", "tmpfs", false}, TVolumeCase{"/media/ram", "tmpfs", false},
        TVolumeCase{"/proc", "proc", false}, TVolumeCase{"/var/lib/share", "nfs", false},
        TVolumeCase{"/snap/core/1", "squashfs", false}, TVolumeCase{"relative", "ext4", false}));

// A shell that reads a given mount table instead of the machine's.
class TTableShell : public TShell {
public:
    std::string HomePath() const override { return "/home/ann"; }
    std::string MountTable() const override { return Table; }
    std::string Table;
};

TEST(ShellVolumes, TheRootComesFirstThenUserVolumesByMountPointName) {
    TTableShell shell;
    shell.Table = "1 0 0:1 / / rw - overlay overlay rw\n"
                  "2 1 0:2 / /proc rw - proc proc rw\n"
                  "3 1 0:3 / /media/ann/Old rw - vfat /dev/nonexistent-a rw\n"
                  "4 1 0:4 / /mnt/nas rw - nfs4 nas:/music rw\n"
                  "5 1 0:5 / /media/ann/Old rw - ext4 /dev/nonexistent-b rw\n";
    const std::vector<TVolume> volumes = shell.Volumes();
    ASSERT_EQ(volumes.size(), 3u);
    EXPECT_EQ(volumes[0].RootPath, "/");
    EXPECT_EQ(volumes[0].DisplayName, "File System");
    // Mounted twice on one folder: only the one on top is reachable, listed once.
    EXPECT_EQ(volumes[1].RootPath, "/mnt/nas");
    EXPECT_EQ(volumes[1].DisplayName, "nas");
    EXPECT_TRUE(volumes[1].Network);
    EXPECT_EQ(volumes[2].RootPath, "/media/ann/Old");
    EXPECT_FALSE(volumes[2].Network);
}

TEST(ShellVolumes, TheMachinesOwnTableGivesTheRootFirst) {
    const std::vector<TVolume> volumes = TShell::Default().Volumes();
    ASSERT_FALSE(volumes.empty());
    EXPECT_EQ(volumes[0].RootPath, "/");
}

TEST(ShellLabels, UdevEscapesAreDecoded) {
    EXPECT_EQ(DecodeLabel("My\\x20Disk"), "My Disk");
    EXPECT_EQ(DecodeLabel("A\\x2fB"), "A/B");
    EXPECT_EQ(DecodeLabel("bad\\xZZ"), "bad\\xZZ");
    EXPECT_EQ(DecodeLabel("end\\x2"), "end\\x2");
}

// --- folders -------------------------------------------------------------------------------

TEST(ShellFolders, ListingGivesSubfoldersAndFailsForWhatIsNoFolder) {
    QTemporaryDir temp;
    const std::string root = temp.path().toStdString();
    QDir(temp.path()).mkpath("sub/deeper");
    QDir(temp.path()).mkpath(".hidden");
    QFile(temp.path() + "/file.mp3").open(QIODevice::WriteOnly);
    ASSERT_EQ(::symlink((root + "/sub").c_str(), (root + "/link").c_str()), 0);
    ASSERT_EQ(::symlink((root + "/file.mp3").c_str(), (root + "/filelink").c_str()), 0);

    std::vector<std::string> names{"stale"};
    ASSERT_TRUE(TShell::Default().ListFolders(root, names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, std::vector<std::string>({".hidden", "link", "sub"}));

    EXPECT_FALSE(TShell::Default().ListFolders(root + "/missing", names));
    EXPECT_TRUE(names.empty());
    EXPECT_FALSE(TShell::Default().ListFolders(root + "/file.mp3", names));
    EXPECT_TRUE(TShell::Default().FolderExists(root + "/link"));
    EXPECT_FALSE(TShell::Default().FolderExists(root + "/filelink"));
}

TEST(ShellFolders, SpecialFoldersAreAbsoluteAndTheDesktopExists) {
    const TShell& shell = TShell::Default();
    EXPECT_TRUE(shell.DesktopPath().starts_with("/"));
    EXPECT_TRUE(shell.FolderExists(shell.DesktopPath()));
    EXPECT_TRUE(shell.TrashPath().ends_with("/Trash/files"));
    EXPECT_FALSE(shell.Icon(TShellIcon::siFolder).isNull() &&
                 shell.Icon(TShellIcon::siDrive).isNull());
}

// --- notices -------------------------------------------------------------------------------

TEST(ShellNotifier, WatchesAreCountedAndAChangeIsReported) {
    QTemporaryDir temp;
    const std::string folder = temp.path().toStdString();
    TShellNotifier notifier;
    EXPECT_TRUE(notifier.IsWatchingMounts());
    ASSERT_TRUE(notifier.Watch(folder));
    ASSERT_TRUE(notifier.Watch(folder));
    notifier.Unwatch(folder);
    EXPECT_TRUE(notifier.IsWatching(folder));

    QSignalSpy changed(&notifier, &TShellNotifier::FolderChanged);
    QDir(temp.path()).mkdir("new");
    ASSERT_TRUE(changed.wait(5000));
    EXPECT_EQ(changed.first().at(0).value<std::string>(), folder);

    notifier.Unwatch(folder);
    EXPECT_FALSE(notifier.IsWatching(folder));
    EXPECT_FALSE(notifier.Watch(folder + "/missing"));
    EXPECT_FALSE(notifier.IsWatching(folder + "/missing"));
}

TEST(MountWatcher, WatchesTheProcessTableAndStaysIdleWithoutOne) {
    EXPECT_TRUE(TMountWatcher().IsWatching());
    EXPECT_FALSE(TMountWatcher(nullptr, "/nonexistent/mountinfo").IsWatching());
}

} // namespace
} // namespace cantorell
