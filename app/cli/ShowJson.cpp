#include "ShowJson.h"

#include "app/Messages.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace cantorell::cli {

namespace {

// JSON lines are gathered and written in large pieces; a terminal gets each line at once.
constexpr size_t JsonFlushSize = 64 * 1024;

void WriteOut(std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    bytes.clear();
}

void AppendHexEscape(std::string& out, unsigned value) {
    constexpr char HexDigits[] = "0123456789ABCDEF";
    const char escape[] = {'\\', 'x', HexDigits[(value >> 4) & 0xF], HexDigits[value & 0xF]};
    out.append(escape, sizeof escape);
}

// The keys in the order a JSON object keeps them.
void ImagesJson(const std::vector<TDID3v2::TPictureInfo>& pictures, TJsonWriter& json) {
    json.BeginArray();
    for (const TDID3v2::TPictureInfo& picture : pictures) {
        json.BeginObject();
        json.Key("bytes").Number(picture.Bytes);
        json.Key("description").Utf8(picture.Description);
        if (picture.Width > 0) {
            json.Key("height").Number(picture.Height);
        }
        json.Key("mime").Utf8(picture.Mime);
        json.Key("type").Number(picture.Type);
        json.Key("typeName").Utf8(PictureTypeName(picture.Type));
        if (picture.Width > 0) {
            json.Key("width").Number(picture.Width);
        }
        json.EndObject();
    }
    json.EndArray();
}

} // namespace

std::string ShownBytes(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t at = 0;
    while (at < bytes.size()) {
        const auto byte = static_cast<uint8_t>(bytes[at]);
        const size_t length = Utf8SequenceLength(bytes, at);
        // The C1 controls U+0080 to U+009F are C2 80 to C2 9F in UTF-8.
        const bool c1 = length == 2 && byte == 0xC2 && static_cast<uint8_t>(bytes[at + 1]) <= 0x9F;
        if (length > 0 && !c1 && byte >= 0x20 && byte != 0x7F) {
            out.append(bytes.substr(at, length));
            at += length;
            continue;
        }
        if (byte == '\n')
            out += "\\n";
        else if (byte == '\r')
            out += "\\r";
        else if (byte == '\t')
            out += "\\t";
        else if (byte == 0x1B)
            out += "\\e";
        else
            AppendHexEscape(out, c1 ? static_cast<uint8_t>(bytes[at + 1]) : byte);
        at += c1 ? 2 : 1;
    }
    return out;
}

void PrintErrorLine(std::string_view message) {
    std::string line(message);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void TShowReport::AddError(std::string message) {
    // Several sections read the same file; a file that cannot be read is named once.
    if (std::find(Errors.begin(), Errors.end(), message) != Errors.end())
        return;
    Errors.push_back(std::move(message));
    PrintErrorLine(Errors.back());
}

void ReadShowSections(const std::string& native, TShowSections& sections, TShowReport& report) {
    // The message is built only for a file that fails, not for every file shown.
    const auto canNotRead = [&] { report.AddError(messages::CanNotRead + ShownBytes(native)); };
    // The sections read the same file one after another: open it once for all.
    const TReadPin pin(TFileSystem::Default(), native);
    sections.StreamRead = sections.Audio.ReadFromFile(native);
    if (!sections.StreamRead)
        canNotRead();
    TDID3v2& v2 = sections.Id3v2;
    if (!v2.ReadFromFile(native))
        canNotRead();
    if (v2.FramesIgnored > 0)
        report.AddError("Only the first " + std::to_string(TDID3v2::MaxFrames) +
                        " frames of the ID3v2 tag were read; " + std::to_string(v2.FramesIgnored) +
                        " more are not shown: " + ShownBytes(native));
    if (!sections.Id3v1.ReadFromFile(native))
        canNotRead();
}

const char* Id3v1VersionText(const TID3v1& tag) {
    if (!tag.Exists())
        return "";
    return tag.VersionID() == TID3v1::Version11 ? "1.1" : "1.0";
}

std::string Id3v2VersionText(const TDID3v2& tag) {
    return tag.Exists ? "2." + std::to_string(tag.VersionID) : std::string();
}

// The keys in the order a JSON object keeps them (by UTF-16 code unit).
void StreamJson(const TMPEGaudio& audio, TJsonWriter& json) {
    if (!audio.FrameHeader().Found) {
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

void Id3v2Json(const TDID3v2& tag, TJsonWriter& json) {
    json.BeginObject();
    json.Key("album").Utf8(tag.Album);
    json.Key("artist").Utf8(tag.Artist);
    json.Key("comment").Utf8(tag.GetComment(tag.MainCommentIndex()));
    json.Key("comments").BeginArray();
    for (int i = 0; i < tag.Frames_Comments.Count(); ++i)
        json.Utf8(tag.GetComment(i));
    json.EndArray();
    json.Key("exists").Bool(tag.Exists);
    // Every frame of the tag, in file order: what a save keeps.
    json.Key("frames").BeginArray();
    for (const std::string& id : tag.FrameIDs())
        json.Latin1(id);
    json.EndArray();
    json.Key("genre").Utf8(tag.Genre);
    const std::vector<TDID3v2::TPictureInfo> pictures = tag.Pictures();
    json.Key("images");
    ImagesJson(pictures, json);
    json.Key("lyrics").Utf8(tag.GetLyrics(0));
    json.Key("pictures").Number(static_cast<int64_t>(pictures.size()));
    json.Key("size").Number(tag.TagSize);
    json.Key("title").Utf8(tag.Title);
    json.Key("track").Utf8(tag.Track);
    json.Key("unsupported").BeginArray();
    for (int i = 0; i < tag.Frames_Unsupport.Count(); ++i)
        json.Latin1(tag.Frames_Unsupport.Items(i).FrameID);
    json.EndArray();
    json.Key("version").Utf8(Id3v2VersionText(tag));
    json.Key("year").Utf8(tag.Year);
    json.EndObject();
}

void Id3v1Json(const TID3v1& tag, TJsonWriter& json) {
    // Every text of an ID3v1 tag is Latin-1.
    const auto text = [&json](const char* key, std::string_view value) {
        json.Key(key).Latin1(value);
    };
    json.BeginObject();
    text("album", tag.Album());
    text("artist", tag.Artist());
    text("comment", tag.Comment());
    json.Key("exists").Bool(tag.Exists());
    text("genre", tag.Genre());
    json.Key("genreId").Number(tag.GenreID());
    text("title", tag.Title());
    json.Key("track").Number(tag.Track());
    json.Key("version").Utf8(Id3v1VersionText(tag));
    text("year", tag.Year());
    json.EndObject();
}

void AppendShowJsonLine(std::string_view native, const TShowReport& report,
                        const TShowSections& sections, std::string& out) {
    // Every section is read before the line is written, so the values go straight into it.
    TJsonWriter json(out);
    json.BeginObject();
    json.Key("errors").BeginArray();
    for (const std::string& error : report.Errors)
        json.Utf8(error);
    json.EndArray();
    json.Key("file").FileName(native);
    Id3v1Json(sections.Id3v1, json.Key("id3v1"));
    Id3v2Json(sections.Id3v2, json.Key("id3v2"));
    json.Key("stream");
    if (sections.StreamRead)
        StreamJson(sections.Audio, json);
    else
        json.Null();
    json.EndObject();
    out += '\n';
}

int ShowJson(std::span<const std::string> files) {
    int result = ecOk;
    const bool eachLine = ::isatty(STDOUT_FILENO) == 1;
    std::string out;
    out.reserve(JsonFlushSize + 4096);
    // One report serves every file, so the sections' values keep their buffers.
    TShowReport report;
    for (const std::string& native : files) {
        report.Clear();
        TShowSections sections;
        ReadShowSections(native, sections, report);
        if (!report.Errors.empty())
            result = ecFailure;
        AppendShowJsonLine(native, report, sections, out);
        if (eachLine || out.size() >= JsonFlushSize)
            WriteOut(out);
    }
    WriteOut(out);
    std::fflush(stdout);
    return result;
}

} // namespace cantorell::cli
