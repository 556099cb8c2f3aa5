// What the window and the command-line tool share, so that both follow the same rules and
// speak with the same words: the failure messages, the five lines of the stream summary,
// the version texts, how a track or genre text becomes a tag byte, and the conversions
// between Qt's texts and the tag objects' byte strings. QtCore only: the tool links no
// widgets.
#pragma once

#include "app/Messages.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>

namespace cantorell {

class TMPEGaudio;

// Failure messages; each is followed by the file's full path.
inline const QString MsgCanNotRead = QString::fromUtf8(messages::CanNotRead);
inline const QString MsgCanNotSaveV1 = QString::fromUtf8(messages::CanNotSaveV1);
inline const QString MsgCanNotRemoveV1 = QString::fromUtf8(messages::CanNotRemoveV1);
inline const QString MsgCanNotSaveV2 = QString::fromUtf8(messages::CanNotSaveV2);
inline const QString MsgCanNotRemoveV2 = QString::fromUtf8(messages::CanNotRemoveV2);
// The stream summary of a file in which no MPEG audio frame was found.
inline const QString MsgNoMpegAudio = QString::fromUtf8(messages::NoMpegAudio);

// "Save the changes to <path>?"
QString SaveChangesQuestion(const QString& path);
// Why an operation on `path` failed, in the system's words: the file's own state first (gone,
// not a regular file), else the error number the failing call left (0: none known). Empty
// when nothing better than the message itself is known.
QString FailureReason(const QString& path, int error);

// The stream summary after a successful read: five lines (file size, MPEG version and layer,
// channel mode, bit rate marked CBR or VBR, sample rate); when the analyser found no frame,
// the file's real size and MsgNoMpegAudio.
bool HasMpegAudio(const TMPEGaudio& audio);
QStringList StreamLines(const TMPEGaudio& audio, int64_t fileSize);

// "Version 1.2.3, built <date>" for the About page; "<program> 1.2.3" for --version.
QString VersionLine();
QString ProgramVersion(const QString& program);

// A track text as the ID3v1 track byte: a whole signed 32-bit number (decimal, or
// hexadecimal after "$", "x", "X", "0x", "0X"; leading spaces and a sign allowed); anything
// else, and any value <= 0, gives 0 (no track); a larger value gives its low 8 bits.
uint8_t ParseTrack(const QString& text);
// A genre text as the ID3v1 genre byte: empty gives 255 (none), a genre's name in any case
// gives its number, a number 0 to 255 gives itself. False for any other text.
bool ParseGenre(const QString& text, uint8_t& genre);

// ID3v1 texts are the record's ISO-8859-1 bytes; a character it cannot hold becomes '?'.
QString FromLatin1(const std::string& bytes);
std::string ToLatin1(const QString& text);
// ID3v2 texts inside the program are UTF-8.
QString FromUtf8(const std::string& bytes);
std::string ToUtf8(const QString& text);
// Paths as the file system names them (bytes), and back.
std::string NativePath(const QString& path);
QString FromNativePath(const std::string& path);

} // namespace cantorell
