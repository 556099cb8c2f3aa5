#include "Cli.h"

#include <QFile>
#include <QTextStream>

#include <cstdio>

namespace cantorell::cli {

void TShowReport::AddError(const QString& message) {
    // Several sections read the same file; a file that cannot be read is named once.
    if (Errors.contains(message))
        return;
    Errors.append(message);
    PrintError(message);
}

std::string NativePath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString FromLatin1(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string ToLatin1(const QString& text) {
    return text.toLatin1().toStdString();
}

QString FromUtf8(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string ToUtf8(const QString& text) {
    return text.toUtf8().toStdString();
}

void PrintError(const QString& message) {
    const QByteArray bytes = message.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

int ParseFileCommand(QCommandLineParser& parser, const QString& name, const QStringList& arguments,
                     QString& file) {
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The MP3 file."));
    if (!parser.parse(QStringList{name} + arguments)) {
        PrintError(name + QStringLiteral(": ") + parser.errorText());
        return ecUsage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        PrintOut(parser.helpText());
        return ecOk;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1) {
        PrintError(name + QStringLiteral(": exactly one FILE is needed\n\n") + parser.helpText());
        return ecUsage;
    }
    file = files.first();
    return -1;
}

int RunRemoveCommand(const QStringList& arguments, const QString& name, const QString& description,
                     const QString& failure,
                     const std::function<bool(const std::string&)>& remove) {
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    QString path;
    if (const int code = ParseFileCommand(parser, name, arguments, path); code >= 0)
        return code;
    if (!remove(NativePath(path))) {
        PrintError(failure + path);
        return ecFailure;
    }
    return ecOk;
}

void PrintOut(const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

} // namespace cantorell::cli
