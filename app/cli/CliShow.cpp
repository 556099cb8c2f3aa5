#include "Cli.h"

#include "platform/FileSystem.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

namespace cantorell::cli {

namespace {

using TShowSection = void (*)(const QString& path, TShowReport& report);

// In the order the window fills its pages.
const TShowSection Sections[] = {ShowStream, ShowId3v2, ShowId3v1};

} // namespace

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
    for (const QString& path : files) {
        TShowReport report;
        report.Plain = !json;
        if (json)
            report.Json.insert(QStringLiteral("file"), JsonText(path));
        else
            report.Lines.append(QStringLiteral("File: ") + Shown(path));
        {
            // The sections read the same file one after another: open it once for all.
            const TReadPin pin(TFileSystem::Default(), NativePath(path));
            for (const TShowSection section : Sections)
                section(path, report);
        }
        if (!report.Errors.isEmpty())
            result = ecFailure;

        if (json) {
            report.Json.insert(QStringLiteral("errors"), QJsonArray::fromStringList(report.Errors));
            QByteArray line = QJsonDocument(report.Json).toJson(QJsonDocument::Compact);
            line.append('\n');
            std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
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
    std::fflush(stdout);
    return result;
}

} // namespace cantorell::cli
