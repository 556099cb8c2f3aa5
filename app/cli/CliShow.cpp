#include "Cli.h"

#include "platform/FileSystem.h"

#include <QCommandLineParser>

#include <cstdio>
#include <unistd.h>

namespace cantorell::cli {

namespace {

using TShowSection = void (*)(const QString& path, const std::string& native, TShowReport& report);

// In the order the window fills its pages.
const TShowSection Sections[] = {ShowStream, ShowId3v2, ShowId3v1};

// JSON lines are gathered and written in large pieces; a terminal gets each line at once.
constexpr size_t JsonFlushSize = 64 * 1024;

void WriteOut(std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    bytes.clear();
}

} // namespace

void AppendShowJsonLine(const std::string& native, const TShowReport& report, std::string& out) {
    TJsonWriter json(out);
    // "errors" and "file" come before the sections' keys, as in a JSON object.
    json.BeginObject();
    json.Key("errors").BeginArray();
    for (const QString& error : report.Errors)
        json.Text(error);
    json.EndArray();
    json.Key("file").FileName(native);
    for (const auto& [key, value] : report.Json) {
        if (value.empty())
            continue;
        json.Key(key).Raw(value);
    }
    json.EndObject();
    out += '\n';
}

int CommandShow(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Shows the tags and the audio stream of each file."));
    parser.addHelpOption();
    parser.addOption(
        {QStringLiteral("json"), QStringLiteral("One JSON object per file and line.")});
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("MP3 files."),
                                 QStringLiteral("FILE..."));
    if (!parser.parse(QStringList{QStringLiteral("show")} + arguments)) {
        PrintError(parser.errorText());
        return ecUsage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        PrintOut(parser.helpText());
        return ecOk;
    }
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty()) {
        PrintError(QStringLiteral("show: no file given\n\n") + parser.helpText());
        return ecUsage;
    }
    const bool json = parser.isSet(QStringLiteral("json"));

    int result = ecOk;
    bool first = true;
    const bool eachLine = json && ::isatty(STDOUT_FILENO) == 1;
    std::string out;
    out.reserve(JsonFlushSize + 4096);
    // One report serves every file, so the sections' values keep their buffers.
    TShowReport report;
    report.Plain = !json;
    for (const QString& path : files) {
        report.Clear();
        if (!json)
            report.Lines.append(QStringLiteral("File: ") + Shown(path));
        const std::string native = NativePath(path);
        {
            // The sections read the same file one after another: open it once for all.
            const TReadPin pin(TFileSystem::Default(), native);
            for (const TShowSection section : Sections)
                section(path, native, report);
        }
        if (!report.Errors.isEmpty())
            result = ecFailure;

        if (json) {
            AppendShowJsonLine(native, report, out);
            if (eachLine || out.size() >= JsonFlushSize)
                WriteOut(out);
        } else {
            if (!first)
                PrintOut(QString());
            for (const QString& line : report.Lines)
                PrintOut(line);
            for (const QString& error : report.Errors)
                PrintOut(QStringLiteral("Error: ") + error);
        }
        first = false;
    }
    WriteOut(out);
    std::fflush(stdout);
    return result;
}

} // namespace cantorell::cli
