// The command-line tool as users and scripts call it: a small program that links no Qt.
//
// Loading Qt (and the libraries it pulls in: ICU, glib, pcre2, ...) costs a process more
// than reading the tags of a file does, and scripts often call the tool once per file. So
// the one command line that scripts use most, `show --json FILE...`, runs here at once;
// every other command line goes unchanged to the full tool, which this program becomes
// through execv: its output, messages and exit codes are the full tool's own.
#include "app/cli/ShowJson.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

using namespace cantorell::cli;

namespace {

constexpr std::string_view FullToolName = CANTORELL_FULL_NAME;

// `show`, one or more `--json` after it, and at least one file. Anything else (another
// option, "-", "--", an empty argument, no file) is the full parser's to judge.
bool IsFastShowJson(int argc, char* argv[], std::vector<std::string>& files) {
    if (argc < 3 || std::string_view(argv[1]) != "show")
        return false;
    bool json = false;
    for (int i = 2; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--json")
            json = true;
        else if (argument.empty() || argument.front() == '-')
            return false;
        else
            files.emplace_back(argument);
    }
    return json && !files.empty();
}

// The folder of this program, from the kernel's link to it (argv[0] need not be a path).
bool OwnFolder(std::string& folder) {
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<size_t>(length) >= path.size())
        return false;
    path.resize(static_cast<size_t>(length));
    folder = path.substr(0, path.rfind('/') + 1);
    return true;
}

// Becomes the full tool: beside this program in a build tree, else where an install puts it
// relative to bin. Returns only when neither can be run, with the message that says so.
std::string RunFullTool(char* argv[]) {
    std::string folder;
    if (!OwnFolder(folder))
        return "tagcantorell-cli: cannot find its own location: " +
               std::string(std::strerror(errno));
    const std::string candidates[] = {folder + std::string(FullToolName),
                                      folder + CANTORELL_FULL_FROM_BIN "/" +
                                          std::string(FullToolName)};
    std::string failed;
    int failure = 0;
    for (const std::string& path : candidates) {
        ::execv(path.c_str(), argv);
        const int error = errno;
        // A tool that is there but cannot run says more than one that is missing; of two
        // missing ones, the installed place is where it belongs.
        if (failure == 0 || failure == ENOENT) {
            failed = path;
            failure = error;
        }
    }
    return "tagcantorell-cli: cannot run the full tool " + ShownBytes(failed) + ": " +
           std::strerror(failure);
}

} // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string> files;
    if (IsFastShowJson(argc, argv, files))
        return ShowJson(files);
    PrintErrorLine(RunFullTool(argv));
    return ecUsage;
}
