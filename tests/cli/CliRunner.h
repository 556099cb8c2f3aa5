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
#include <vector>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Runs the program with arguments as raw bytes, the way a shell passes a file name that is
// not UTF-8 (QProcess would encode them). Output comes back as bytes.
struct TCliBytesResult {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

// Runs `program` so; `environment` ("NAME=value") is added to the child's environment.
inline TCliBytesResult RunProgramBytes(const std::string& program,
                                       const std::vector<std::string>& arguments,
                                       const char* environment = nullptr) {
    TCliBytesResult result;
    int out[2], err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0)
        return result;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::close(out[0]);
        ::close(err[0]);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        if (environment != nullptr)
            ::putenv(const_cast<char*>(environment));
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    // Both pipes are read alternately through poll, so neither can fill up and stall.
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.Out, &result.Err};
    int open = 2;
    while (open > 0 && ::poll(fds, 2, 60000) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            }
        }
    }
    int status = 0;
    if (::waitpid(child, &status, 0) == child && WIFEXITED(status))
        result.ExitCode = WEXITSTATUS(status);
    return result;
}

inline TCliBytesResult RunCliBytes(const std::vector<std::string>& arguments) {
    return RunProgramBytes(CANTORELL_CLI_PATH, arguments);
}

inline QString Q(const std::string& path) {
    return QString::fromStdString(path);
}

} // namespace cantorell::test
