#include "Cli.h"

#include "tags/MPEGaudio.h"

#include <QFileInfo>

namespace cantorell::cli {

// The keys in the order a JSON object keeps them.
void StreamJson(const TMPEGaudio& audio, TJsonWriter& json) {
    if (!HasMpegAudio(audio)) {
        json.Null();
        return;
    }
    json.BeginObject();
    json.Key("bitRate").Number(audio.BitRate());
    json.Key("channelMode").Utf8(audio.ChannelMode());
    json.Key("encoderTag").Latin1(audio.EncoderTag());
    json.Key("fileSize").Number(audio.FileLength());
    json.Key("layer").Utf8(audio.Layer());
    json.Key("sampleRate").Number(audio.SampleRate());
    json.Key("vbr").Bool(audio.IsVBR());
    json.Key("version").Utf8(audio.Version());
    json.EndObject();
}

// The window's "MPEG Info" page. When the stream cannot be read, or holds no MPEG audio
// frame, the JSON value is null; the plain block still prints the window's lines.
void ShowStream(const QString& path, const std::string& native, TShowReport& report) {
    TMPEGaudio audio;
    if (!audio.ReadFromFile(native)) {
        report.AddError(MsgCanNotRead + Shown(path));
        if (!report.Plain)
            TJsonWriter(report.Json["stream"]).Null();
        return;
    }
    if (report.Plain) {
        report.Lines.append(StreamLines(audio, QFileInfo(path).size()));
        return;
    }
    TJsonWriter json(report.Json["stream"]);
    StreamJson(audio, json);
}

} // namespace cantorell::cli
