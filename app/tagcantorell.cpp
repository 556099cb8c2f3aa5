// The window program. It takes no arguments: everything happens in the window.
#include "app/main.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tag Cantorell"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tag Cantorell"));
    QApplication::setApplicationVersion(QStringLiteral(CANTORELL_VERSION));
    cantorell::TFormMain FormMain;
    FormMain.show();
    return app.exec();
}
