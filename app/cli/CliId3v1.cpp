#include "Cli.h"

#include "platform/FileSystem.h"
#include "tags/ID3v1.h"

namespace cantorell::cli {

void ShowId3v1(const QString& /*path*/, const TShowSections& sections, QStringList& lines) {
    const TID3v1& tag = sections.Id3v1;
    if (!tag.Exists()) {
        lines.append(QStringLiteral("ID3v1: Tag Not Found"));
        return;
    }
    lines.append(QStringLiteral("ID3v1: ") + QLatin1String(Id3v1VersionText(tag)));
    lines.append(QStringLiteral("  Title: ") + Shown(FromLatin1(tag.Title())));
    lines.append(QStringLiteral("  Artist: ") + Shown(FromLatin1(tag.Artist())));
    lines.append(QStringLiteral("  Album: ") + Shown(FromLatin1(tag.Album())));
    lines.append(QStringLiteral("  Year: ") + Shown(FromLatin1(tag.Year())));
    lines.append(QStringLiteral("  Comment: ") + Shown(FromLatin1(tag.Comment())));
    lines.append(QStringLiteral("  Track: ") + QString::number(tag.Track()));
    lines.append(QStringLiteral("  Genre: ") + FromLatin1(tag.Genre()) + QStringLiteral(" (") +
                 QString::number(tag.GenreID()) + QStringLiteral(")"));
}

int CommandSetV1(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Changes the given fields of the ID3v1 tag and saves it. Texts that ISO-8859-1 cannot "
        "hold are stored with '?'."));
    const TSharedFieldOptions shared;
    const QCommandLineOption comment(QStringLiteral("comment"), QStringLiteral("Comment."),
                                     QStringLiteral("C"));
    const QCommandLineOption track(
        QStringLiteral("track"),
        QStringLiteral("Track number as the window reads it: decimal, or hexadecimal after $ or "
                       "0x; a number above 255 keeps its low 8 bits, anything else is none."),
        QStringLiteral("N"));
    const QCommandLineOption genre(QStringLiteral("genre"),
                                   QStringLiteral("Genre name, or number 0 to 255."),
                                   QStringLiteral("NAME-or-NUMBER"));
    parser.addOptions(
        {shared.Title, shared.Artist, shared.Album, shared.Year, comment, track, genre});
    QString path;
    if (const int code = ParseFileCommand(parser, QStringLiteral("set-v1"), arguments, path);
        code >= 0)
        return code;

    const uint8_t trackNumber = parser.isSet(track) ? ParseTrack(parser.value(track)) : 0;
    uint8_t genreId = TID3v1::NoGenre;
    if (parser.isSet(genre) && !ParseGenre(parser.value(genre), genreId)) {
        PrintError(QStringLiteral("set-v1: unknown genre: ") + parser.value(genre));
        return ecUsage;
    }

    TID3v1 tag;
    const auto read = [&tag](const std::string& file) { return tag.ReadFromFile(file); };
    return EditTagFile(
        path, MsgCanNotSaveV1, read, [&](const std::string& file, std::string& note) {
            const std::pair<const QCommandLineOption*, void (TID3v1::*)(std::string_view)> texts[] =
                {{&shared.Title, &TID3v1::SetTitle},
                 {&shared.Artist, &TID3v1::SetArtist},
                 {&shared.Album, &TID3v1::SetAlbum},
                 {&shared.Year, &TID3v1::SetYear},
                 {&comment, &TID3v1::SetComment}};
            for (const auto& [option, setter] : texts) {
                if (parser.isSet(*option))
                    (tag.*setter)(ToLatin1(parser.value(*option)));
            }
            if (parser.isSet(track))
                tag.SetTrack(trackNumber);
            if (parser.isSet(genre))
                tag.SetGenreID(genreId);
            if (tag.SaveToFile(file))
                return true;
            note = TFileSystem::Default().FailureNote();
            return false;
        });
}

} // namespace cantorell::cli
