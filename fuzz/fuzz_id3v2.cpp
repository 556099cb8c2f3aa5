// Reads an ID3v2 tag from arbitrary bytes taken as the start of a file, then writes the
// result as a 2.3 tag in memory and reads that again: the texts must come back unchanged.
#include "tags/DID3v2.h"
#include "tags/ID3v2Frames.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace cantorell;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // The pure decoders on the raw bytes as a frame body.
    DecodeFrameText(bytes);
    DecodeGenreText(bytes);
    DecodeDescribed(bytes, true);
    DecodeUserURL(bytes);
    ParseFrameNumber(bytes);
    ConvertPicToApic(bytes);

    TDID3v2 tag;
    // The file may be longer than the bytes at hand (a failed read of the rest), or exactly
    // that long.
    if (!tag.ReadFromBytes(bytes, static_cast<int64_t>(size)))
        return 0;
    tag.GetComment(tag.MainCommentIndex());
    tag.GetLyrics(0);

    TagInfo info;
    info.SetHeaderBytes(data);
    info.FileSize = static_cast<int64_t>(size);
    const std::string frames = tag.BuildFrames(info);
    if (!tag.BuildTagHeader(info, static_cast<int64_t>(frames.size())))
        return 0;
    std::string written = "ID3";
    written += static_cast<char>(info.MajorVersion);
    written += static_cast<char>(info.RevisionNumber);
    written += static_cast<char>(info.Flags);
    for (const uint8_t b : info.SizeBytes)
        written += static_cast<char>(b);
    written += frames;
    const auto total =
        static_cast<size_t>(written.size() + (tag.PaddingSize > 0 ? tag.PaddingSize : 0));
    written.resize(total, '\0');

    TDID3v2 again;
    if (!again.ReadFromBytes(written, static_cast<int64_t>(written.size())))
        __builtin_trap();
    // An empty field may be filled on the way back by a kept frame of the same identifier
    // (a 2.4 tag's "TYER", say); a field with text must come back as it was.
    for (const auto field : {&TDID3v2::Title, &TDID3v2::Artist, &TDID3v2::Album, &TDID3v2::Year,
                             &TDID3v2::Track, &TDID3v2::Composer}) {
        if (!(tag.*field).empty() && again.*field != tag.*field)
            __builtin_trap();
    }
    if (tag.BPM != 0 && again.BPM != tag.BPM)
        __builtin_trap();
    for (int i = 0, j = 0; i < tag.Frames_Comments.Count(); ++i) {
        const TFrameItem& item = tag.Frames_Comments.Items(i);
        if (item.Data.empty())
            continue;
        if (j >= again.Frames_Comments.Count())
            __builtin_trap();
        const TFrameItem& back = again.Frames_Comments.Items(j++);
        if (back.Data != item.Data || back.Description != item.Description)
            __builtin_trap();
    }
    return 0;
}
