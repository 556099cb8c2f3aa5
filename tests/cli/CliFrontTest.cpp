// The command-line tool's front: `show --json FILE...` runs in it without Qt and prints
// exactly what the full tool prints; any other command line needs the full tool, and a
// front that cannot run it says why.
#include "tests/cli/CliRunner.h"
#include "tests/testsupport/Id3v1Builder.h"
#include "tests/testsupport/Id3v2Builder.h"
#include "tests/testsupport/MpegBuilder.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

using namespace cantorell::test;

namespace {

const std::string FullToolName = std::filesystem::path(CANTORELL_CLI_FULL_PATH).filename();

std::string Audio() {
    return MpegFrames(TMpegHeader{}, 417, 4);
}

std::string TaggedFile() {
    const std::string frames = FrameV23("TIT2", TextBody(3, "Gr\xC3\xBC\xC3\x9F\x65")) +
                               FrameV23("TPE1", TextBody(0, "Caf\xE9")) +
                               FrameV23("COMM", DescribedBody(0, "eng", "", "one\ntwo"));
    return TId3v2Tag{3, 0, frames, 64}.Build() + Audio() +
           TId3v1Record{"T", "A", "B", "2001", "C", 7, 17}.Build();
}

// A copy of the front alone in its folder, with no full tool beside it or where an install
// puts it: whatever it prints, it printed itself.
std::string LonelyFront(const TTempDir& dir) {
    const std::string folder = dir.File("front");
    std::filesystem::create_directory(folder);
    const std::string front = folder + "/tagcantorell-cli";
    std::filesystem::copy_file(CANTORELL_CLI_PATH, front);
    ::chmod(front.c_str(), 0755);
    return front;
}

struct TFastCase {
    const char* Name;
    // Makes what the case needs in `dir`; returns the arguments after "show".
    std::vector<std::string> (*Make)(const TTempDir& dir);
};

void PrintTo(const TFastCase& fast, std::ostream* out) {
    *out << fast.Name;
}

std::vector<std::string> WrittenFile(const TTempDir& dir, const std::string& name,
                                     const std::string& bytes) {
    WriteBytes(dir.File(name), bytes);
    return {"--json", dir.File(name)};
}

const TFastCase FastCases[] = {
    {"TaggedFile", [](const TTempDir& dir) { return WrittenFile(dir, "a.mp3", TaggedFile()); }},
    {"FileWithoutTags", [](const TTempDir& dir) { return WrittenFile(dir, "a.mp3", Audio()); }},
    {"MissingFile",
     [](const TTempDir& dir) {
         return std::vector<std::string>{"--json", dir.File("no.mp3")};
     }},
    {"Folder",
     [](const TTempDir& dir) {
         return std::vector<std::string>{"--json", dir.Path()};
     }},
    {"FifoNamedLikeAnMp3",
     [](const TTempDir& dir) {
         ::mkfifo(dir.File("x.mp3").c_str(), 0644);
         return std::vector<std::string>{"--json", dir.File("x.mp3")};
     }},
    {"NameNotUtf8",
     [](const TTempDir& dir) {
         return WrittenFile(dir, "caf\xE9 \xFF\xC0\x80.mp3", TaggedFile());
     }},
    {"NameWithNewlineAndMark",
     [](const TTempDir& dir) {
         return WrittenFile(dir, "\xEF\xBB\xBFnew\nline\x1B.mp3", TaggedFile());
     }},
    {"TagCutShort",
     [](const TTempDir& dir) { return WrittenFile(dir, "a.mp3", TaggedFile().substr(0, 40)); }},
    {"FrameLargerThanItsTag",
     [](const TTempDir& dir) {
         std::string frame = FrameV23("TIT2", TextBody(0, "title"));
         frame.replace(4, 4, BigEndianBytes(5000));
         return WrittenFile(dir, "a.mp3", TId3v2Tag{3, 0, frame, 0}.Build() + Audio());
     }},
    {"SeveralFilesWithJsonLastAndTwice",
     [](const TTempDir& dir) {
         WriteBytes(dir.File("a.mp3"), TaggedFile());
         return std::vector<std::string>{"--json", dir.File("a.mp3"), dir.File("no.mp3"),
                                         dir.File("a.mp3"), "--json"};
     }},
};

class CliFrontFastFormTest : public ::testing::TestWithParam<TFastCase> {};

TEST_P(CliFrontFastFormTest, PrintsWhatTheFullToolPrints) {
    TTempDir dir;
    std::vector<std::string> arguments{"show"};
    for (std::string& argument : GetParam().Make(dir))
        arguments.push_back(std::move(argument));
    const TCliBytesResult full = RunProgramBytes(CANTORELL_CLI_FULL_PATH, arguments);
    const TCliBytesResult fast = RunProgramBytes(LonelyFront(dir), arguments);
    EXPECT_EQ(full.Out, fast.Out);
    EXPECT_EQ(full.Err, fast.Err);
    EXPECT_EQ(full.ExitCode, fast.ExitCode);
}

INSTANTIATE_TEST_SUITE_P(Files, CliFrontFastFormTest, ::testing::ValuesIn(FastCases),
                         [](const auto& test) { return std::string(test.param.Name); });

// The glibc loader lists the libraries a program would load and stops, when asked so.
TEST(CliFrontTest, LoadsNoQt) {
    const char* trace = "LD_TRACE_LOADED_OBJECTS=1";
    const std::vector<std::string> arguments{"show", "--json", "a.mp3"};
    const TCliBytesResult front = RunProgramBytes(CANTORELL_CLI_PATH, arguments, trace);
    const TCliBytesResult full = RunProgramBytes(CANTORELL_CLI_FULL_PATH, arguments, trace);
    EXPECT_NE(std::string::npos, front.Out.find("libc.so")) << "nothing listed:" << front.Err;
    EXPECT_EQ(std::string::npos, front.Out.find("libQt6")) << front.Out;
    EXPECT_NE(std::string::npos, full.Out.find("libQt6Core")) << "the listing finds no Qt";
}

struct TMissingCase {
    const char* Name;
    std::vector<std::string> Arguments;
    // A file named like the full tool beside the front, which cannot be run.
    bool Unrunnable;
    // What the message ends with, after the front's folder.
    std::string Ending;
};

void PrintTo(const TMissingCase& missing, std::ostream* out) {
    *out << missing.Name;
}

const TMissingCase MissingCases[] = {
    {"Missing", {"--version"}, false, FullToolName + ": " + std::strerror(ENOENT) + "\n"},
    {"NotExecutable",
     {"show", "--json", "--help", "a.mp3"},
     true,
     FullToolName + ": " + std::strerror(EACCES) + "\n"},
};

class CliFrontMissingToolTest : public ::testing::TestWithParam<TMissingCase> {};

TEST_P(CliFrontMissingToolTest, NamesTheToolAndWhyItCannotRun) {
    const TMissingCase& missing = GetParam();
    TTempDir dir;
    const std::string front = LonelyFront(dir);
    const std::string folder = dir.File("front/");
    if (missing.Unrunnable)
        WriteBytes(folder + FullToolName, "#!/bin/sh\n");
    const TCliBytesResult result = RunProgramBytes(front, missing.Arguments);
    EXPECT_EQ(2, result.ExitCode);
    EXPECT_EQ("", result.Out);
    const std::string start = "tagcantorell-cli: cannot run the full tool " + folder;
    EXPECT_EQ(start, result.Err.substr(0, start.size())) << result.Err;
    EXPECT_TRUE(result.Err.ends_with("/" + missing.Ending)) << result.Err;
    EXPECT_EQ(1, std::count(result.Err.begin(), result.Err.end(), '\n')) << result.Err;
}

INSTANTIATE_TEST_SUITE_P(Tools, CliFrontMissingToolTest, ::testing::ValuesIn(MissingCases),
                         [](const auto& test) { return std::string(test.param.Name); });

} // namespace
