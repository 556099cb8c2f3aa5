#include "Cli.h"

#include "tags/MPEGaudio.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QJsonValue>

namespace cantorell::cli {

// The window's "MPEG Info" page. When the stream cannot be read, or holds no MPEG audio
// frame, the JSON value is null; the plain block still prints the window's lines.
void ShowStream(const QString& path, TShowReport& report) {
    TMPEGaudio audio;
    if (!audio.ReadFromFile(NativePath(path))) {
        report.AddError(MsgCanNotRead + Shown(path));
        report.Json.insert(QStringLiteral("stream"), QJsonValue::Null);
        return;
    }
    if (report.Plain) {
        report.Lines.append(StreamLines(audio, QFileInfo(path).size()));
        return;
    }
    if (!HasMpegAudio(audio)) {
        report.Json.insert(QStringLiteral("stream"), QJsonValue::Null);
        return;
    }
    QJsonObject json;
    json.insert(QStringLiteral("fileSize"), static_cast<qint64>(audio.FileLength()));
    json.insert(QStringLiteral("version"), QString::fromStdString(audio.Version()));
    json.insert(QStringLiteral("layer"), QString::fromStdString(audio.Layer()));
    json.insert(QStringLiteral("channelMode"), QString::fromStdString(audio.ChannelMode()));
    json.insert(QStringLiteral("vbr"), audio.IsVBR());
    json.insert(QStringLiteral("bitRate"), audio.BitRate());
    json.insert(QStringLiteral("sampleRate"), audio.SampleRate());
    json.insert(QStringLiteral("encoderTag"), FromLatin1(audio.EncoderTag()));
    report.Json.insert(QStringLiteral("stream"), json);
}

} // namespace cantorell::cli
