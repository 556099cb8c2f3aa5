// The window program's command line: `tagcantorell [FILE|FOLDER]`, which is also how a
// desktop's file manager hands it the files a user opens with it (the desktop entry's %F).
#pragma once

#include <QString>
#include <QStringList>

class QCommandLineParser;

namespace cantorell {

class TFormMain;

// The options and arguments the window understands, for --help and for parsing. One word
// after one dash is one option, as Qt's own options are (-platform, -style), so that
// "-stylesheet" does not read as "-s -t -y ... -h".
void DescribeCommandLine(QCommandLineParser& parser);

// Opens the first of the command line's paths in the window: a folder is opened and listed,
// a file's folder is opened and the file selected and shown. A desktop may pass several
// files; one window shows one, so the rest are left. Returns a message for the standard
// error when the path does not exist, else an empty text.
QString OpenCommandLinePaths(TFormMain& form, const QStringList& paths);

} // namespace cantorell
