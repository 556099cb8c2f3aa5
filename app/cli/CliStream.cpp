#include "Cli.h"

#include "tags/MPEGaudio.h"

#include <QJsonObject>
#include <QJsonValue>

namespace cantorell::cli {

// The window's "MPEG Info" page: five lines about the audio stream. When the stream cannot
// be read the page stays empty, and so does this section (its JSON value is null).
void ShowStream(const QString& path, TShowReport& report) {
    TMPEGaudio audio;
    if (!audio.ReadFromFile(NativePath(path))) {
        report.AddError(MsgCanNotRead + Shown(path));
        report.Json.insert(QStringLiteral("stream"), QJsonValue::Null);
        return;
    }
    const QString version = QString::fromStdString(audio.Version());
    const QString layer = QString::fromStdString(audio.Layer());
    const QString mode = QString::fromStdString(audio.ChannelMode());

    QJsonObject json;
    json.insert(QStringLiteral("fileSize"), static_cast<qint64>(audio.FileLength()));
    json.insert(QStringLiteral("version"), version);
    json.insert(QStringLiteral("layer"), layer);
    json.insert(QStringLiteral("channelMode"), mode);
    json.insert(QStringLiteral("vbr"), audio.IsVBR());
    json.insert(QStringLiteral("bitRate"), audio.BitRate());
    json.insert(QStringLiteral("sampleRate"), audio.SampleRate());
    json.insert(QStringLiteral("encoderTag"), FromLatin1(audio.EncoderTag()));
    report.Json.insert(QStringLiteral("stream"), json);

    report.Lines.append(QStringLiteral("File size: ") + QString::number(audio.FileLength()));
    report.Lines.append(QStringLiteral("MPEG type: ") + version + ' ' + layer);
    report.Lines.append(QStringLiteral("Channel mode: ") + mode);
    report.Lines.append((audio.IsVBR() ? QStringLiteral("VBR ") : QStringLiteral("CBR ")) +
                        QString::number(audio.BitRate()) + QStringLiteral(" kbit/s"));
    report.Lines.append(QStringLiteral("Sample Rate: ") + QString::number(audio.SampleRate()) +
                        QStringLiteral(" hz"));
}

} // namespace cantorell::cli
