// Reads an ID3v2 tag from arbitrary bytes taken as the start of a file, renders it as a save
// would, and reads the result again (fuzz_id3v2_v23 and fuzz_id3v2_v24 take every input as
// a tag of that version):
// - without edits, everything read comes back the same, and rendering the second reading
//   gives the same bytes again (a save without edits changes nothing);
// - with a changed title and a typed comment, those come back and every other field and
//   kept frame is still there.
#include "tags/DID3v2.h"
#include "tags/ID3v2Frames.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

using namespace cantorell;

namespace {

// Names the failed check's line, which the trap's stack trace does not.
void Check(bool condition, int line = __builtin_LINE()) {
    if (condition)
        return;
    std::fprintf(stderr, "check failed at fuzz_id3v2.cpp:%d\n", line);
    __builtin_trap();
}

TagInfo HeaderOf(std::string_view bytes) {
    TagInfo info;
    info.SetHeaderBytes(reinterpret_cast<const uint8_t*>(bytes.data()));
    info.FileSize = static_cast<int64_t>(bytes.size());
    return info;
}

constexpr std::string TDID3v2::*Fields[] = {
    &TDID3v2::Title,         &TDID3v2::Lyricist,     &TDID3v2::EncodedBy,  &TDID3v2::RightsNotice,
    &TDID3v2::Album,         &TDID3v2::OrigLyricist, &TDID3v2::Artist,     &TDID3v2::ModifiedBy,
    &TDID3v2::Conductor,     &TDID3v2::ContentGroup, &TDID3v2::OrigArtist, &TDID3v2::Genre,
    &TDID3v2::Band,          &TDID3v2::Year,         &TDID3v2::Languages,  &TDID3v2::Subtitle,
    &TDID3v2::Composer,      &TDID3v2::UserURL,      &TDID3v2::Track,      &TDID3v2::OrigAlbum,
    &TDID3v2::RecordingDates};

void CheckSameItems(const TFrameLib& a, const TFrameLib& b) {
    Check(a.Count() == b.Count());
    for (int i = 0; i < a.Count(); ++i) {
        Check(a.Items(i).Data == b.Items(i).Data);
        Check(a.Items(i).Description == b.Items(i).Description);
        Check(a.Items(i).Language == b.Items(i).Language);
    }
}

std::vector<std::string> UnsupportedIds(const TDID3v2& tag) {
    std::vector<std::string> ids;
    for (int i = 0; i < tag.Frames_Unsupport.Count(); ++i)
        ids.push_back(tag.Frames_Unsupport.Items(i).FrameID);
    return ids;
}

// The pure decoders on the raw bytes as a frame body.
void DecodeAsFrameBody(std::string_view bytes) {
    DecodeFrameText(bytes);
    DecodeGenreText(bytes);
    DecodeDescribed(bytes, true);
    DecodeUserURL(bytes);
    ParseFrameNumber(bytes);
    ConvertPicToApic(bytes);
    for (const uint8_t version : {uint8_t{3}, uint8_t{4}})
        UnpackFrameBody(bytes, version, 0xFFFF, true);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
#ifdef CANTORELL_FUZZ_VERSION
    // Every input taken as a tag of one major version.
    std::string forced(reinterpret_cast<const char*>(input), size);
    if (size > 3)
        forced[3] = CANTORELL_FUZZ_VERSION;
    const std::string_view bytes = forced;
#else
    const std::string_view bytes(reinterpret_cast<const char*>(input), size);
#endif

    DecodeAsFrameBody(bytes);

    TDID3v2 tag;
    if (!tag.ReadFromBytes(bytes, static_cast<int64_t>(size)))
        return 0;
    tag.GetComment(tag.MainCommentIndex());
    tag.GetLyrics(0);

    TDID3v2::TRenderedTag first;
    if (!tag.Render(HeaderOf(bytes), first))
        return 0;
    TDID3v2 again;
    Check(again.ReadFromBytes(first.Bytes, static_cast<int64_t>(first.Bytes.size())));
    Check(again.VersionID == tag.SaveVersion());
    if (tag.VersionID == 3 || tag.VersionID == 4) {
        // Everything read comes back as it was.
        for (const auto field : Fields)
            Check(tag.*field == again.*field);
        Check(tag.BPM == again.BPM);
        Check(tag.FrameIDs() == again.FrameIDs());
        CheckSameItems(tag.Frames_Comments, again.Frames_Comments);
        CheckSameItems(tag.Frames_Lyrics, again.Frames_Lyrics);
        CheckSameItems(tag.Frames_Images, again.Frames_Images);
        CheckSameItems(tag.Frames_Unsupport, again.Frames_Unsupport);
    } else {
        // A 2.2 tag is converted: a text with a value must come back as it was.
        for (const auto field : {&TDID3v2::Title, &TDID3v2::Artist, &TDID3v2::Album,
                                 &TDID3v2::Track, &TDID3v2::Composer}) {
            Check((tag.*field).empty() || again.*field == tag.*field);
        }
    }
    // A save without edits of what a save wrote changes nothing.
    TDID3v2::TRenderedTag second;
    Check(again.Render(HeaderOf(first.Bytes), second));
    Check(second.InPlace);
    Check(second.Bytes == first.Bytes);

    // One field and one comment changed: they come back, and nothing else is lost.
    const std::vector<std::string> keptIds = UnsupportedIds(again);
    again.Title = "Edited \xC3\xA9\xE2\x82\xAC";
    again.SetComment("typed", again.MainCommentIndex());
    TDID3v2::TRenderedTag edited;
    if (!again.Render(HeaderOf(first.Bytes), edited))
        return 0;
    TDID3v2 back;
    Check(back.ReadFromBytes(edited.Bytes, static_cast<int64_t>(edited.Bytes.size())));
    Check(back.Title == again.Title);
    Check(back.GetComment(back.MainCommentIndex()) == "typed");
    for (const auto field : Fields) {
        if (field != &TDID3v2::Title)
            Check(back.*field == again.*field);
    }
    CheckSameItems(back.Frames_Lyrics, again.Frames_Lyrics);
    CheckSameItems(back.Frames_Images, again.Frames_Images);
    std::vector<std::string> expectedIds;
    for (const std::string& id : keptIds) {
        if (id != "TIT2")
            expectedIds.push_back(id);
    }
    Check(UnsupportedIds(back) == expectedIds);
    return 0;
}
