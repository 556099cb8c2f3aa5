#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace cantorell::test {

TTempDir::TTempDir() {
    std::string pattern = (fs::temp_directory_path() / "cantorell-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder");
    FPath = pattern;
}

TTempDir::~TTempDir() {
    std::error_code error;
    // Tests make files read-only; give the owner access back so everything can go. A
    // symbolic link is passed over: chmod follows it, and tests plant links to files far
    // outside the folder (/dev/null among them), whose modes are not ours to change.
    for (auto it = fs::recursive_directory_iterator(FPath, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_symlink(error))
            continue;
        ::chmod(it->path().c_str(), it->is_directory(error) ? 0700 : 0600);
    }
    ::chmod(FPath.c_str(), 0700);
    fs::remove_all(FPath, error);
}

std::string ReadBytes(const std::string& path) {
    std::error_code error;
    if (!fs::is_regular_file(path, error))
        return std::string();
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path) {
    std::error_code error;
    return fs::exists(path, error);
}

unsigned FileMode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

uint64_t InodeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_ino) : 0;
}

int RunAsUser(unsigned id, const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(id) != 0 || ::setuid(id) != 0)
            ::_exit(255);
        ::_exit(body());
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status) == 255 ? -1 : WEXITSTATUS(status);
}

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (const int value : values)
        bytes.push_back(static_cast<char>(value));
    return bytes;
}

std::string FakeAudio(size_t count, uint8_t seed) {
    std::string bytes(count, '\0');
    uint32_t state = 2463534242u + seed;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state & 0xFF);
    }
    return bytes;
}

namespace {

// A 16-bit PCM WAV file holding a 440 Hz tone.
std::string ToneWav(int sampleRate, int channels, double seconds) {
    const auto frames = static_cast<uint32_t>(sampleRate * seconds);
    const uint32_t dataSize = frames * static_cast<uint32_t>(channels) * 2;
    std::string wav;
    const auto put32 = [&wav](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            wav.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    const auto put16 = [&wav](uint16_t v) {
        wav.push_back(static_cast<char>(v & 0xFF));
        wav.push_back(static_cast<char>(v >> 8));
    };
    wav += "RIFF";
    put32(36 + dataSize);
    wav += "WAVEfmt ";
    put32(16);
    put16(1);
    put16(static_cast<uint16_t>(channels));
    put32(static_cast<uint32_t>(sampleRate));
    put32(static_cast<uint32_t>(sampleRate * channels * 2));
    put16(static_cast<uint16_t>(channels * 2));
    put16(16);
    wav += "data";
    put32(dataSize);
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const auto sample = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * t) +
                                                 3000 * std::sin(2 * M_PI * 1250 * t));
        for (int c = 0; c < channels; ++c)
            put16(static_cast<uint16_t>(sample));
    }
    return wav;
}

} // namespace

int RunProgram(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // lame talks on stderr; tests want quiet output.
        if (!std::freopen("/dev/null", "w", stderr))
            ::_exit(126);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunPython(const std::string& script, const std::vector<std::string>& arguments) {
    std::error_code error;
    std::vector<std::string> command{
        fs::exists("/usr/bin/python3", error) ? "/usr/bin/python3" : "python3", "-c", script};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return RunProgram(command);
}

bool HaveMutagen() {
    static const bool have = RunPython("import mutagen.id3", {}) == 0;
    return have;
}

void EncodeWithLame(const std::string& path, const TLameOptions& options) {
    const std::string wav = path + ".wav";
    WriteBytes(wav, ToneWav(options.SampleRate, options.Channels, options.Seconds));
    std::vector<std::string> command{"lame", "--quiet", "--noreplaygain"};
    command.insert(command.end(), options.Arguments.begin(), options.Arguments.end());
    command.push_back(wav);
    command.push_back(path);
    const int status = RunProgram(command);
    fs::remove(wav);
    ASSERT_EQ(0, status) << "lame failed to encode " << path;
}

void CopyStandardMp3(const std::string& path) {
    static TTempDir cache;
    static const std::string master = cache.File("standard.mp3");
    if (!FileExists(master))
        EncodeWithLame(master, {{"-b", "128"}, 44100, 2, 1.0});
    WriteBytes(path, ReadBytes(master));
}

} // namespace cantorell::test
