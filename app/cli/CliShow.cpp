#include "Cli.h"

#include <QCommandLineParser>

#include <cstdio>
#include <vector>

namespace cantorell::cli {

namespace {

using TShowBlock = void (*)(const QString& path, const TShowSections& sections, QStringList& lines);

// In the order the window fills its pages.
const TShowBlock Blocks[] = {ShowStream, ShowId3v2, ShowId3v1};

// One labelled block per file, blocks apart by an empty line; each failure follows its
// file's block.
int ShowPlain(const QStringList& files, const std::vector<std::string>& natives) {
    int result = ecOk;
    TShowReport report;
    for (qsizetype i = 0; i < files.size(); ++i) {
        report.Clear();
        TShowSections sections;
        ReadShowSections(natives[static_cast<size_t>(i)], sections, report);
        QStringList lines{QStringLiteral("File: ") + Shown(files[i])};
        for (const TShowBlock block : Blocks)
            block(files[i], sections, lines);
        if (!report.Errors.empty())
            result = ecFailure;
        if (i > 0)
            PrintOut(QString());
        for (const QString& line : lines)
            PrintOut(line);
        for (const std::string& error : report.Errors)
            PrintOut(QStringLiteral("Error: ") + FromUtf8(error));
    }
    std::fflush(stdout);
    return result;
}

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
    std::vector<std::string> natives;
    natives.reserve(static_cast<size_t>(files.size()));
    for (const QString& path : files)
        natives.push_back(NativePath(path));
    // The same code as the front's fast form, so the two cannot write different lines.
    if (parser.isSet(QStringLiteral("json")))
        return ShowJson(natives);
    return ShowPlain(files, natives);
}

} // namespace cantorell::cli
