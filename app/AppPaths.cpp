#include "app/AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace cantorell {

namespace {

// The options file is saved by writing a new file beside it and renaming that over it, so
// the folder must be writable as well as the file.
bool WritableInPlace(const QString& file) {
    const QByteArray path = QFile::encodeName(file);
    const QByteArray folder = QFile::encodeName(QFileInfo(file).absolutePath());
    struct stat info {};
    return ::stat(path.constData(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.constData(), W_OK) == 0 && ::access(folder.constData(), W_OK | X_OK) == 0;
}

} // namespace

QString OptionsFileLocation(const QString& programFolder, const QString& xdgConfigHome,
                            const QString& home) {
    const QString beside = QDir(programFolder).filePath(QLatin1String(OptionsFileName));
    if (WritableInPlace(beside))
        return beside;
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    const QString configHome = !xdgConfigHome.isEmpty() && QDir::isAbsolutePath(xdgConfigHome)
                                   ? xdgConfigHome
                                   : QDir(home).filePath(QStringLiteral(".config"));
    return QDir::cleanPath(QDir(configHome)
                               .filePath(QLatin1String(ConfigFolderName) + QLatin1Char('/') +
                                         QLatin1String(OptionsFileName)));
}

QString DefaultOptionsFile() {
    return OptionsFileLocation(QCoreApplication::applicationDirPath(),
                               qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath());
}

bool MakeFolderFor(const QString& file) {
    const QString folder = QFileInfo(file).absolutePath();
    if (QFileInfo(folder).isDir())
        return true;
    // Each missing ancestor from the top down; one that appears meanwhile is fine.
    QString path;
    for (const QString& part : folder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path += QLatin1Char('/') + part;
        if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return QFileInfo(folder).isDir();
}

QString ReadmeFile(const QString& programFolder) {
    const QDir program(programFolder);
    const QString beside = program.filePath(QStringLiteral("README.md"));
    if (QFileInfo::exists(beside))
        return beside;
    return QDir::cleanPath(program.filePath(QStringLiteral(CANTORELL_DOC_FROM_BIN "/README.md")));
}

} // namespace cantorell
