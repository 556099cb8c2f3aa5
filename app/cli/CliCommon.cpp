#include "Cli.h"

#include "platform/FileSystem.h"

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

namespace {

// Lone low surrogates that stand for the bytes 0x80 to 0xFF of a name that is not UTF-8.
constexpr char16_t EscapedByteBase = 0xDC00;

bool IsEscapedByte(char16_t unit) {
    return unit >= EscapedByteBase + 0x80 && unit <= EscapedByteBase + 0xFF;
}

// The length of the well-formed UTF-8 sequence at `at`, or 0 (overlong forms, surrogates
// and code points beyond U+10FFFF are not well-formed).
size_t Utf8SequenceLength(std::string_view bytes, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
    const uint8_t lead = byte(at);
    size_t length = 0;
    uint8_t low = 0x80, high = 0xBF;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > bytes.size() || byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return 0;
    }
    return length;
}

QString HexEscape(unsigned value) {
    return QStringLiteral("\\x") + QString::number(value, 16).toUpper().rightJustified(2, '0');
}

} // namespace

QString ArgumentText(const char* bytes) {
    const std::string_view in(bytes);
    QString text;
    size_t at = 0;
    while (at < in.size()) {
        const size_t length = Utf8SequenceLength(in, at);
        if (length == 0) {
            text += QChar(static_cast<char16_t>(EscapedByteBase + static_cast<uint8_t>(in[at])));
            ++at;
            continue;
        }
        text += QString::fromUtf8(in.data() + at, static_cast<qsizetype>(length));
        at += length;
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
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (IsEscapedByte(unit)) {
            out += HexEscape(unit - EscapedByteBase);
        } else if (unit == '\n') {
            out += QLatin1String("\\n");
        } else if (unit == '\r') {
            out += QLatin1String("\\r");
        } else if (unit == '\t') {
            out += QLatin1String("\\t");
        } else if (unit == 0x1B) {
            out += QLatin1String("\\e");
        } else if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F)) {
            // C1 controls too: a UTF-8 terminal takes U+009B for the escape sequence's CSI.
            out += HexEscape(unit);
        } else {
            out += c;
        }
    }
    return out;
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
    const QByteArray bytes = message.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
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

int RunRemoveCommand(const QStringList& arguments, const QString& name, const QString& description,
                     const QString& failure,
                     const std::function<bool(const std::string&)>& remove) {
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    QString path;
    if (const int code = ParseFileCommand(parser, name, arguments, path); code >= 0)
        return code;
    if (!remove(NativePath(path))) {
        PrintError(FailureText(failure, path));
        return ecFailure;
    }
    return ecOk;
}

void PrintOut(const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

} // namespace cantorell::cli
