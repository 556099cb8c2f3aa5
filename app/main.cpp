// The window program. Until the main window is built it shows a note that points to the
// command-line tool, which already reads and edits the tags.
#include <QApplication>
#include <QMessageBox>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tag Cantorell"));
    QMessageBox::information(
        nullptr, QStringLiteral("Tag Cantorell"),
        QStringLiteral("The Tag Cantorell window is not built yet.\n"
                       "Use tagcantorell-cli to show and edit the tags of MP3 files."));
    return 0;
}
