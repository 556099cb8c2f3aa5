// The window program: `tagcantorell [FILE|FOLDER]`.
#include "app/AppPaths.h"
#include "app/CommandLine.h"
#include "app/main.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QIcon>

#include <cstdio>

namespace {

void SetIdentity() {
    QCoreApplication::setApplicationName(QStringLiteral("tagcantorell"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CANTORELL_VERSION));
}

// --help and --version must work where there is no display (a terminal, a build machine),
// so they are answered by a core application before the window system is touched; both
// end the process. Anything else, Qt's own options included, waits for the GUI
// application, which takes its options out of the list first.
void AnswerHelpAndVersion(int argc, char* argv[]) {
    QCoreApplication core(argc, argv);
    SetIdentity();
    QCommandLineParser parser;
    cantorell::DescribeCommandLine(parser);
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    // Qt's own options are listed by the parser's full processing.
    if (parser.isSet(QStringLiteral("help-all")))
        parser.process(core);
}

} // namespace

int main(int argc, char* argv[]) {
    AnswerHelpAndVersion(argc, argv);

    // Desktops match the window to its desktop entry by this name (on Wayland the
    // compositor has nothing else), and take the window's icon and grouping from there.
    QGuiApplication::setDesktopFileName(QLatin1String(cantorell::AppId));
    QApplication app(argc, argv);
    SetIdentity();
    QApplication::setApplicationDisplayName(QStringLiteral("Tag Cantorell"));
    // The installed theme icon where there is one; the copy built into the program
    // otherwise (a build tree, a portable copy).
    QIcon builtIn;
    for (const char* size : {"-48.png", "-256.png"})
        builtIn.addFile(QStringLiteral(":/icons/") + QLatin1String(cantorell::AppId) +
                        QLatin1String(size));
    QApplication::setWindowIcon(QIcon::fromTheme(QLatin1String(cantorell::AppId), builtIn));

    QCommandLineParser parser;
    cantorell::DescribeCommandLine(parser);
    parser.process(app);

    cantorell::TFormMain FormMain;
    const QString problem = cantorell::OpenCommandLinePaths(FormMain, parser.positionalArguments());
    if (!problem.isEmpty())
        fprintf(stderr, "tagcantorell: %s\n", qUtf8Printable(problem));
    FormMain.show();
    return app.exec();
}
