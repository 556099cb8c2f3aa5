#include "app/CommandLine.h"

#include "app/main.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace cantorell {

void DescribeCommandLine(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("Tag Cantorell: view and edit the tags of MP3 files.\n"
                       "With a FILE, the window opens on its folder with the file selected; "
                       "with a FOLDER, on that folder."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE|FOLDER"),
                                 QStringLiteral("An MP3 file to select, or a folder to open."),
                                 QStringLiteral("[FILE|FOLDER]"));
}

QString OpenCommandLinePaths(TFormMain& form, const QStringList& paths) {
    if (paths.isEmpty())
        return {};
    const QFileInfo target(paths.first());
    if (!target.exists())
        return QStringLiteral("Can not open \"%1\": no such file or folder")
            .arg(target.absoluteFilePath());
    // A file that is no MP3 still opens its folder, which is the most the window can show.
    form.OpenPath(target.absoluteFilePath());
    return {};
}

} // namespace cantorell
