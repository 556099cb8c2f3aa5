// The window's failure messages, as UTF-8 texts without Qt: the command-line tool's fast
// `show --json` prints them without loading Qt, and app/Common.h makes the window's QStrings
// from the same texts, so each message is worded once.
#pragma once

namespace cantorell::messages {

// Each is followed by the file's full path.
inline constexpr char CanNotRead[] = "Can not read data from the file: ";
inline constexpr char CanNotSaveV1[] = "Can not save ID3v1 tag to the file: ";
inline constexpr char CanNotRemoveV1[] = "Can not remove ID3v1 tag from the file: ";
inline constexpr char CanNotSaveV2[] = "Can not save ID3v2 tag to the file: ";
inline constexpr char CanNotRemoveV2[] = "Can not remove ID3v2 tag from the file: ";
// The stream summary of a file in which no MPEG audio frame was found.
inline constexpr char NoMpegAudio[] = "No MPEG audio found";

} // namespace cantorell::messages
