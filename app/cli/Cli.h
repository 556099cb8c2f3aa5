// The command-line tool: what the window shows and does, for scripts and batch work.
//
// Every command reads and writes files through the same tag objects the window uses and
// words its failures with the window's own messages.
#pragma once

#include "app/Common.h"
#include "app/cli/ShowJson.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace cantorell {
class TDID3v2;
class TID3v1;
class TMPEGaudio;
} // namespace cantorell

namespace cantorell::cli {

// The largest lyrics file set-v2 reads.
inline constexpr qint64 MaxLyricsFileSize = 16 * 1024 * 1024;

// The window's messages, its stream summary, its track and genre rules and its text
// conversions come from app/Common.h, so the tool follows exactly the window's rules. Paths
// given on the command line keep their bytes (ArgumentText and NativePath below).

// A command-line argument as text. File names are bytes: a byte that is no part of valid
// UTF-8 becomes the lone surrogate U+DC80 + byte, so that NativePath gives the file's name
// back exactly and any name works.
QString ArgumentText(const char* bytes);
// A path as the file system wants it (bytes, as the operating system names the file).
std::string NativePath(const QString& path);
// A text as plain output shows it: ShownBytes of the text's bytes (NativePath), so the bytes
// of a file name that are not UTF-8 are escaped too.
QString Shown(const QString& text);
// A text for JSON: bytes of a file name that are not UTF-8 become U+FFFD.
QString JsonText(const QString& text);

void PrintError(const QString& message);
// A failed save's message: the window's words, the file, and why when the file layer says
// more than the failure itself (the file changed meanwhile, a copy was kept, ...).
QString FailureText(const QString& message, const QString& path);
QString FailureText(const QString& message, const QString& path, const std::string& note);
// Parses the arguments of a command with the options and positional arguments already
// added to `parser`. Returns -1 when the command goes on with the `count` positional
// arguments in `files`, else the exit code to return at once (help shown, or a usage error;
// `needed` says what a wrong number of positional arguments lacks).
int ParseCommand(QCommandLineParser& parser, const QString& name, const QStringList& arguments,
                 qsizetype count, const QString& needed, QStringList& files);
// Parses the arguments of a command that takes exactly one FILE and the options already
// added to `parser`. Returns -1 when the command goes on with `file`, else the exit code
// to return at once (help shown, or a usage error).
int ParseFileCommand(QCommandLineParser& parser, const QString& name, const QStringList& arguments,
                     QString& file);
void PrintOut(const QString& line);
// Reads one tag of the file `path`, changes it and saves it, as one step for every other save
// of the file: a lock on the file is held throughout. `read` gets the file's native path;
// so does `save`, which changes the tag, saves it and, when that fails, may set the note
// that says why. `failure` is the window's message for a failed save. Returns the exit code.
int EditTagFile(const QString& path, const QString& failure,
                const std::function<bool(const std::string&)>& read,
                const std::function<bool(const std::string& file, std::string& note)>& save);
// The plain blocks of `show`'s sections, from what ReadShowSections read of the file `path`;
// each appends its lines.
void ShowStream(const QString& path, const TShowSections& sections, QStringList& lines);
void ShowId3v2(const QString& path, const TShowSections& sections, QStringList& lines);
void ShowId3v1(const QString& path, const TShowSections& sections, QStringList& lines);

// The options of the fields both tags have, named alike in set-v1 and set-v2.
struct TSharedFieldOptions {
    const QCommandLineOption Title{QStringLiteral("title"), QStringLiteral("Title."),
                                   QStringLiteral("T")};
    const QCommandLineOption Artist{QStringLiteral("artist"), QStringLiteral("Artist."),
                                    QStringLiteral("A")};
    const QCommandLineOption Album{QStringLiteral("album"), QStringLiteral("Album."),
                                   QStringLiteral("B")};
    const QCommandLineOption Year{QStringLiteral("year"), QStringLiteral("Year."),
                                  QStringLiteral("Y")};
};

// A subcommand: its arguments (without the command's own name) and an exit code.
using TCommand = int (*)(const QStringList& arguments);
int CommandShow(const QStringList& arguments);
int CommandSetV1(const QStringList& arguments);
int CommandRemoveV1(const QStringList& arguments);
int CommandSetV2(const QStringList& arguments);
int CommandRemoveV2(const QStringList& arguments);
int CommandExportPicture(const QStringList& arguments);

} // namespace cantorell::cli
