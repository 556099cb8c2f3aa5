// Runs the real tagcantorell-cli program and captures what it prints.
#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <string>

namespace cantorell::test {

struct TCliResult {
    int ExitCode = -1;
    QString Out;
    QString Err;

    // The JSON objects of a `show --json` run, one per line.
    QList<QJsonObject> JsonLines() const {
        QList<QJsonObject> objects;
        for (const QString& line : Out.split('\n', Qt::SkipEmptyParts))
            objects.append(QJsonDocument::fromJson(line.toUtf8()).object());
        return objects;
    }
};

inline TCliResult RunCli(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(CANTORELL_CLI_PATH), arguments);
    process.closeWriteChannel();
    TCliResult result;
    if (!process.waitForFinished(60000))
        return result;
    result.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.Out = QString::fromUtf8(process.readAllStandardOutput());
    result.Err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

inline QString Q(const std::string& path) {
    return QString::fromStdString(path);
}

} // namespace cantorell::test
