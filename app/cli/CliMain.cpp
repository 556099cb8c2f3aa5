#include "Cli.h"

#include <QCoreApplication>

#include <iterator>

using namespace cantorell;
using namespace cantorell::cli;

namespace {

struct TCommandEntry {
    const char* Name;
    TCommand Run;
    const char* Synopsis;
};

const TCommandEntry Commands[] = {
    {"show", CommandShow, "show [--json] FILE...        what the window shows of each file"},
    {"set-v1", CommandSetV1,
     "set-v1 FILE [--title T] [--artist A] [--album B] [--year Y] [--comment C]\n"
     "       [--track N] [--genre NAME-or-NUMBER]    change fields of the ID3v1 tag"},
    {"remove-v1", CommandRemoveV1, "remove-v1 FILE               remove the ID3v1 tag"},
    {"set-v2", CommandSetV2,
     "set-v2 FILE [--title T] [--artist A] [--album B] [--track N] [--year Y] [--genre G]\n"
     "       [--comment C] [--lyrics L | --lyrics-file F] [--remove-pictures]\n"
     "       [--picture IMAGE [--picture-type N] [--picture-description D]]\n"
     "                                    change fields of the ID3v2 tag"},
    {"remove-v2", CommandRemoveV2, "remove-v2 FILE               remove the ID3v2 tag"},
    {"export-picture", CommandExportPicture,
     "export-picture FILE OUT [--index N]    write a picture of the ID3v2 tag to OUT"},
};

QString Usage() {
    QString text = QStringLiteral("Usage: tagcantorell-cli COMMAND [OPTIONS] FILE...\n\n"
                                  "Commands:\n");
    for (const auto& command : Commands)
        text += QStringLiteral("  ") + QString::fromUtf8(command.Synopsis) + '\n';
    text += QStringLiteral("\nRun 'tagcantorell-cli COMMAND --help' for a command's options.");
    return text;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tagcantorell-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CANTORELL_VERSION));

    // The arguments as the shell passed them: Qt's own decoding would lose the bytes of a
    // file name that is not UTF-8.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(ArgumentText(argv[i]));
    if (arguments.isEmpty()) {
        PrintError(Usage());
        return ecUsage;
    }
    const QString name = arguments.takeFirst();
    if (name == QLatin1String("--help") || name == QLatin1String("-h") ||
        name == QLatin1String("help")) {
        PrintOut(Usage());
        return ecOk;
    }
    if (name == QLatin1String("--version")) {
        PrintOut(ProgramVersion(QStringLiteral("tagcantorell-cli")));
        return ecOk;
    }
    for (const auto& command : Commands) {
        if (name == QLatin1String(command.Name))
            return command.Run(arguments);
    }
    PrintError(QStringLiteral("Unknown command: ") + name + QStringLiteral("\n\n") + Usage());
    return ecUsage;
}
