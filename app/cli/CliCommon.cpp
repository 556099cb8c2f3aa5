#include "Cli.h"

#include "platform/FileSystem.h"
#include "tags/DID3v2.h"
#include "tags/ID3v1.h"

#include <QTextStream>

#include <cstdio>

namespace cantorell::cli {

namespace {

// Lone low surrogates that stand for the bytes 0x80 to 0xFF of a name that is not UTF-8.
constexpr char16_t EscapedByteBase = 0xDC00;

bool IsEscapedByte(char16_t unit) {
    return unit >= EscapedByteBase + 0x80 && unit <= EscapedByteBase + 0xFF;
}

} // namespace

QString ArgumentText(const char* bytes) {
    const std::string_view in(bytes);
    QString text;
    text.reserve(static_cast<qsizetype>(in.size()));
    size_t at = 0;
    while (at < in.size()) {
        size_t length = Utf8SequenceLength(in, at);
        const auto lead = static_cast<uint8_t>(in[at]);
        if (length == 0) {
            text += QChar(static_cast<char16_t>(EscapedByteBase + lead));
        } else if (length == 1) {
            size_t end = at + 1;
            while (end < in.size() && static_cast<uint8_t>(in[end]) < 0x80)
                ++end;
            text += QLatin1String(in.data() + at, static_cast<qsizetype>(end - at));
            length = end - at;
        } else {
            // Decoded here, not by QString::fromUtf8, which would drop U+FEFF (a byte-order
            // mark to it) and so name another file.
            char32_t code = lead & (0x7F >> length);
            for (size_t i = 1; i < length; ++i)
                code = (code << 6) | (static_cast<uint8_t>(in[at + i]) & 0x3F);
            const auto units = QChar::fromUcs4(code);
            text += QStringView(units);
        }
        at += length == 0 ? 1 : length;
    }
    return text;
}

std::string NativePath(const QString& path) {
    std::string bytes;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= path.size(); ++i) {
        if (i < path.size() && !IsEscapedByte(path[i].unicode()))
            continue;
        bytes += path.mid(start, i - start).toUtf8().toStdString();
        if (i < path.size())
            bytes += static_cast<char>(path[i].unicode() - EscapedByteBase);
        start = i + 1;
    }
    return bytes;
}

QString Shown(const QString& text) {
    // ShownBytes gives well-formed UTF-8 without zero bytes; ArgumentText reads it as it is,
    // where QString::fromUtf8 would drop a leading U+FEFF.
    return ArgumentText(ShownBytes(NativePath(text)).c_str());
}

QString JsonText(const QString& text) {
    QString out = text;
    for (QChar& c : out) {
        if (IsEscapedByte(c.unicode()))
            c = QChar::ReplacementCharacter;
    }
    return out;
}

QString FailureText(const QString& message, const QString& path) {
    return FailureText(message, path, TFileSystem::Default().FailureNote());
}

QString FailureText(const QString& message, const QString& path, const std::string& note) {
    QString text = message + Shown(path);
    if (!note.empty())
        text += '\n' + FromUtf8(note);
    return text;
}

void PrintError(const QString& message) {
    const QByteArray bytes = message.toUtf8();
    PrintErrorLine(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

int ParseCommand(QCommandLineParser& parser, const QString& name, const QStringList& arguments,
                 qsizetype count, const QString& needed, QStringList& files) {
    if (!parser.parse(QStringList{name} + arguments)) {
        PrintError(name + QStringLiteral(": ") + parser.errorText());
        return ecUsage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        PrintOut(parser.helpText());
        return ecOk;
    }
    files = parser.positionalArguments();
    if (files.size() != count) {
        PrintError(name + QStringLiteral(": ") + needed + QStringLiteral("\n\n") +
                   parser.helpText());
        return ecUsage;
    }
    return -1;
}

int ParseFileCommand(QCommandLineParser& parser, const QString& name, const QStringList& arguments,
                     QString& file) {
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The MP3 file."));
    QStringList files;
    const int code = ParseCommand(parser, name, arguments, 1,
                                  QStringLiteral("exactly one FILE is needed"), files);
    if (code < 0)
        file = files.first();
    return code;
}

int EditTagFile(const QString& path, const QString& failure,
                const std::function<bool(const std::string&)>& read,
                const std::function<bool(const std::string&, std::string&)>& save) {
    const std::string file = NativePath(path);
    // A file that cannot be locked because it cannot be opened is named by the read.
    const auto lock = TFileSystem::Default().LockFile(file);
    if (!lock && !TFileSystem::Default().FailureNote().empty()) {
        PrintError(FailureText(failure, path));
        return ecFailure;
    }
    if (!read(file)) {
        PrintError(MsgCanNotRead + Shown(path));
        return ecFailure;
    }
    std::string note;
    if (!save(file, note)) {
        PrintError(FailureText(failure, path, note));
        return ecFailure;
    }
    return ecOk;
}

namespace {

// A command that takes one FILE and removes the tag of class `Tag` from it; `failure` is
// the window's message, printed with the path when it fails.
template <typename Tag>
int RunRemoveCommand(const QStringList& arguments, const QString& name, const QString& description,
                     const QString& failure) {
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    QString path;
    if (const int code = ParseFileCommand(parser, name, arguments, path); code >= 0)
        return code;
    Tag tag;
    if (!tag.RemoveFromFile(NativePath(path))) {
        PrintError(FailureText(failure, path));
        return ecFailure;
    }
    return ecOk;
}

} // namespace

int CommandRemoveV1(const QStringList& arguments) {
    return RunRemoveCommand<TID3v1>(arguments, QStringLiteral("remove-v1"),
                                    QStringLiteral("Removes the ID3v1 tag from the file."),
                                    MsgCanNotRemoveV1);
}

int CommandRemoveV2(const QStringList& arguments) {
    return RunRemoveCommand<TDID3v2>(arguments, QStringLiteral("remove-v2"),
                                     QStringLiteral("Removes the ID3v2 tag from the file."),
                                     MsgCanNotRemoveV2);
}

void PrintOut(const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

} // namespace cantorell::cli
