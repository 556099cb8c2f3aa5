#include "app/Common.h"

#include "platform/Ascii.h"
#include "tags/ID3v1.h"
#include "tags/MPEGaudio.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace cantorell {

QString SaveChangesQuestion(const QString& path) {
    return QStringLiteral("Save the changes to %1?").arg(path);
}

QString FailureReason(const QString& path, int error) {
    struct stat status {};
    if (!path.isEmpty() && ::stat(NativePath(path).c_str(), &status) != 0)
        error = errno;
    else if (!path.isEmpty() && !S_ISREG(status.st_mode))
        return QStringLiteral("Not a regular file");
    if (error == 0)
        return QString();
    return QString::fromLocal8Bit(std::strerror(error));
}

bool HasMpegAudio(const TMPEGaudio& audio) {
    return audio.FrameHeader().Found;
}

QStringList StreamLines(const TMPEGaudio& audio, int64_t fileSize) {
    if (!HasMpegAudio(audio))
        return {QStringLiteral("File size: ") + QString::number(fileSize), MsgNoMpegAudio};
    return {QStringLiteral("File size: ") + QString::number(audio.FileLength()),
            QStringLiteral("MPEG type: ") + QString::fromStdString(audio.Version()) +
                QLatin1Char(' ') + QString::fromStdString(audio.Layer()),
            QStringLiteral("Channel mode: ") + QString::fromStdString(audio.ChannelMode()),
            (audio.IsVBR() ? QStringLiteral("VBR ") : QStringLiteral("CBR ")) +
                QString::number(audio.BitRate()) + QStringLiteral(" kbit/s"),
            QStringLiteral("Sample Rate: ") + QString::number(audio.SampleRate()) +
                QStringLiteral(" hz")};
}

QString VersionLine() {
    return QStringLiteral("Version %1, built %2")
        .arg(QStringLiteral(CANTORELL_VERSION), QStringLiteral(__DATE__));
}

QString ProgramVersion(const QString& program) {
    return program + QLatin1Char(' ') + QStringLiteral(CANTORELL_VERSION);
}

uint8_t ParseTrack(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text[i] == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    int base = 10;
    const QStringView rest = QStringView(text).mid(i);
    if (rest.startsWith(QLatin1Char('$')) || rest.startsWith(QLatin1Char('x')) ||
        rest.startsWith(QLatin1Char('X'))) {
        base = 16;
        i += 1;
    } else if (rest.startsWith(QLatin1String("0x")) || rest.startsWith(QLatin1String("0X"))) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return 0;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = text[i].unicode() < 128 ? HexDigitValue(text[i].toLatin1()) : -1;
        if (digit < 0 || digit >= base)
            return 0;
        value = value * base + digit;
        if (value > int64_t{0x80000000})
            return 0; // outside the signed 32-bit range
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX || value <= 0)
        return 0;
    return static_cast<uint8_t>(value & 0xFF);
}

bool ParseGenre(const QString& text, uint8_t& genre) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        genre = TID3v1::NoGenre;
        return true;
    }
    if (const int found = FindGenre(ToUtf8(trimmed)); found >= 0) {
        genre = static_cast<uint8_t>(found);
        return true;
    }
    bool isNumber = false;
    const int number = trimmed.toInt(&isNumber, 10);
    if (!isNumber || number < 0 || number > 255)
        return false;
    genre = static_cast<uint8_t>(number);
    return true;
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

std::string NativePath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString FromNativePath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

} // namespace cantorell
