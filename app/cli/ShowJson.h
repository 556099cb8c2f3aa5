// `show --json` without Qt: what both executables of the command-line tool run, so their
// lines cannot differ. The small front `tagcantorell-cli` runs it straight from its
// arguments and loads no Qt; the full tool runs it once its parser has read the command line.
//
// File names are bytes: a command-line argument is the file's name exactly as the system
// has it, whatever its encoding. Messages are UTF-8.
#pragma once

#include "app/cli/JsonWriter.h"
#include "tags/DID3v2.h"
#include "tags/ID3v1.h"
#include "tags/MPEGaudio.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cantorell::cli {

enum TExitCode { ecOk = 0, ecFailure = 1, ecUsage = 2 };

// A text as the terminal shows it: control characters, which could move the cursor, retitle
// the terminal or start a forged line, are escaped as \n, \r, \t, \e or \xNN (C1 controls
// too: a UTF-8 terminal takes U+009B for the escape sequence's CSI), as is each byte that
// does not start a well-formed UTF-8 sequence (a file name need not be UTF-8).
std::string ShownBytes(std::string_view bytes);
// Writes the message and a line end to stderr at once.
void PrintErrorLine(std::string_view message);

// What `show` reports of one file: its failures, each also printed to stderr once.
struct TShowReport {
    std::vector<std::string> Errors;

    void AddError(std::string message);
    void Clear() { Errors.clear(); }
};

// What `show` reads of a file, in the order the window fills its pages.
struct TShowSections {
    TMPEGaudio Audio;
    // False when the stream could not be read at all.
    bool StreamRead = false;
    TDID3v2 Id3v2;
    TID3v1 Id3v1;
};

// Reads the sections of the file `native` (its name as the system has it), opening it once
// for all of them, and reports each failure with the window's message.
void ReadShowSections(const std::string& native, TShowSections& sections, TShowReport& report);

// "1.0" or "1.1"; "2.2", "2.3" or "2.4"; empty without a tag.
const char* Id3v1VersionText(const TID3v1& tag);
std::string Id3v2VersionText(const TDID3v2& tag);

// The JSON values of the sections: the stream summary (null without MPEG audio), each tag.
void StreamJson(const TMPEGaudio& audio, TJsonWriter& json);
void Id3v2Json(const TDID3v2& tag, TJsonWriter& json);
void Id3v1Json(const TID3v1& tag, TJsonWriter& json);
// Appends the JSON line of the file `native` to `out`: its errors, its name and the
// sections' values, in the order a JSON object keeps its keys.
void AppendShowJsonLine(std::string_view native, const TShowReport& report,
                        const TShowSections& sections, std::string& out);

// `show --json` over the files: one line per file on stdout, each failure on stderr.
// Returns ecFailure when any file had one, else ecOk.
int ShowJson(std::span<const std::string> files);

} // namespace cantorell::cli
