// Files and folders for tests: a unique temporary folder per test, whole-file reads and
// writes, and real MP3 audio made by the lame encoder.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace cantorell::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::string& Path() const { return FPath; }
    // The path of `name` inside the folder.
    std::string File(const std::string& name) const { return FPath + "/" + name; }

private:
    std::string FPath;
};

std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
unsigned FileMode(const std::string& path);
std::vector<std::string> FolderEntries(const std::string& folder);
// The inode number of a file (0 when there is none), to tell a rewrite from a replacement.
uint64_t InodeOf(const std::string& path);

// The unprivileged account tests switch to when run as root.
constexpr unsigned NobodyId = 65534;
// Runs `body` in a child process that has become the user and group `id` (root only);
// returns the body's result, or -1 when the switch failed.
int RunAsUser(unsigned id, const std::function<int()>& body);

// Bytes from a list of values 0 to 255.
std::string Bytes(std::initializer_list<int> values);
// `count` bytes of a repeating pattern that stands in for audio data.
std::string FakeAudio(size_t count, uint8_t seed = 0);

// Runs a program (looked up in PATH) with `arguments`, the first being its name, with
// stderr silenced; returns its exit code, or -1 when it did not end normally.
int RunProgram(std::vector<std::string> arguments);

// Options for the lame encoder, as on its command line (for example {"-b", "128"}).
struct TLameOptions {
    std::vector<std::string> Arguments;
    int SampleRate = 44100;
    int Channels = 2;
    double Seconds = 1.0;
};
// Encodes a generated tone with lame into `path`; the test fails (gtest assertion) when
// lame is missing or fails. The file holds audio only, no tags.
void EncodeWithLame(const std::string& path, const TLameOptions& options = {});
// Runs a Python 3 script with the arguments; its exit status, or -1 when Python could not
// run. The system's interpreter is preferred, where Debian's python3-mutagen lives.
int RunPython(const std::string& script, const std::vector<std::string>& arguments);
// Whether Python 3 with mutagen is there.
bool HaveMutagen();
// A tag-free MP3 of one second, made once per test program and copied to `path`.
void CopyStandardMp3(const std::string& path);

} // namespace cantorell::test
