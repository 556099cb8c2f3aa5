// A save changes only what was changed, on tags of version 2.3 and 2.4 built here from
// named parts, written at test time by mutagen and written by TagLib: each holds texts in
// several encodings, several comments, lyrics, user texts and URLs, a picture, compressed,
// encrypted and grouped frames where the writer makes them, and frames this program does
// not know. One field is changed and saved; every other frame must then stand in the file
// byte for byte as before, in the same order, the version must be kept, and TagLib (and
// mutagen) must read as many frames as before. A save without an edit leaves the file
// byte-identical.
#include "tags/DID3v2.h"
#include "tags/ID3v2Frames.h"

#include "tests/testsupport/Id3v2Builder.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <attachedpictureframe.h>
#include <chapterframe.h>
#include <commentsframe.h>
#include <generalencapsulatedobjectframe.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <popularimeterframe.h>
#include <privateframe.h>
#include <relativevolumeframe.h>
#include <tableofcontentsframe.h>
#include <textidentificationframe.h>
#include <unsynchronizedlyricsframe.h>
#include <urllinkframe.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

using namespace cantorell;
using namespace cantorell::test;

namespace {

enum class TSource { tsBuilt, tsMutagen, tsTagLib };
enum class TEdit { teNone, teTitle, teComment, teLyrics, teYear, teBPM };

struct TRoundTrip {
    TSource Source;
    uint8_t Version;
    TEdit Edit;
};

std::string Frame(uint8_t version, std::string_view id, std::string_view body, uint8_t format = 0) {
    return version == 4 ? FrameV24(id, body, 0, format) : FrameV23(id, body, 0, format);
}

// A tag the way several programs together might leave it.
std::string BuiltTag(uint8_t version) {
    const bool v4 = version == 4;
    const std::string bomLE = "\xFF\xFE";
    const std::string bomBE = "\xFE\xFF";
    const std::string zippedText = TextBody(0, "Zipped group");
    const std::string zipped = (v4 ? SynchsafeBytes(static_cast<uint32_t>(zippedText.size()))
                                   : BigEndianBytes(static_cast<uint32_t>(zippedText.size()))) +
                               ZlibCompress(zippedText);
    const std::string chapterTitle = Frame(version, "TIT2", TextBody(0, "Chapter 1"));
    std::string frames =
        Frame(version, "TIT2", TextBody(1, bomLE + Utf16LE("Title"))) +
        Frame(version, "TPE1", TextBody(1, bomBE + Utf16BE("Artist"))) +
        Frame(version, "TALB", TextBody(0, "Album  ")) +
        (v4 ? Frame(version, "TDRC", TextBody(0, "1999-05-06"))
            : Frame(version, "TYER", TextBody(0, "1999"))) +
        Frame(version, "TCON", TextBody(0, "(17)(18)Custom")) +
        Frame(version, "TCOM", v4 ? TextBody(3, "Comp\xC3\xB6ser") : TextBody(2, Utf16BE("Comp"))) +
        Frame(version, "TXXX",
              TextBody(0, std::string("one\0"
                                      "1",
                                      5))) +
        Frame(version, "TXXX",
              TextBody(1, bomLE + Utf16LE("two") + std::string(2, '\0') + bomLE + Utf16LE("2"))) +
        Frame(version, "WXXX", TextBody(0, std::string("\0http://a/", 10))) +
        Frame(version, "WXXX", TextBody(0, std::string("shop\0http://b/", 14))) +
        Frame(version, "COMM", DescribedBody(0, "eng", "iTunNORM", " 0000029A 00000000")) +
        Frame(version, "COMM", DescribedBody(1, "eng", bomLE, bomLE + Utf16LE("Plain comment"))) +
        Frame(version, "COMM", DescribedBody(0, "fra", "note", "Bonjour")) +
        Frame(version, "USLT", DescribedBody(0, "eng", "", "Line 1\r\nLine 2\r\n")) +
        Frame(version, "USLT", DescribedBody(0, "deu", "", "Zeile")) +
        Frame(version, "APIC",
              std::string("\0image/png\0\x03\0", 13) + "\x89PNG" + FakeAudio(2000, 7)) +
        Frame(version, "TIT1", zipped, v4 ? 0x09 : 0x80) +
        Frame(version, "PRIV", "\x81" + std::string("encrypted"), v4 ? 0x04 : 0x40) +
        Frame(version, "TPE2", "\x05" + TextBody(0, "Grouped band"), v4 ? 0x40 : 0x20) +
        Frame(version, "CHAP",
              std::string("ch0\0", 4) + BigEndianBytes(0) + BigEndianBytes(1000) +
                  BigEndianBytes(0xFFFFFFFF) + BigEndianBytes(0xFFFFFFFF) + chapterTitle) +
        Frame(version, "CTOC",
              std::string("toc\0\x03\x01"
                          "ch0\0",
                          10) +
                  chapterTitle) +
        Frame(version, "RVA2", std::string("track\0\x01\xFC\x00\x10\x7F\xFF", 12)) +
        Frame(version, "SYLT", std::string("\0eng\x02\x01\0a\0", 9) + BigEndianBytes(500)) +
        Frame(version, "GEOB", std::string("\0application/x\0f.bin\0obj\0\x01\x02", 27)) +
        Frame(version, "PRIV", std::string("owner\0\x00\xFF\x00", 9)) +
        Frame(version, "POPM", std::string("a@b\0\xC8\0\0\0\x05", 9));
    return TId3v2Tag{version, 0, frames, 512}.Build();
}

// The same kinds of frames as mutagen writes them.
constexpr const char* MutagenScript = R"(
import sys
from mutagen.id3 import (ID3, TIT2, TPE1, TALB, TDRC, TCON, COMM, USLT, APIC, CHAP, CTOC,
    CTOCFlags, RVA2, SYLT, GEOB, PRIV, POPM, TXXX, WXXX)
path, version = sys.argv[1], int(sys.argv[2])
t = ID3()
t.add(TIT2(encoding=1, text=['Title \u00e9']))
t.add(TPE1(encoding=3 if version == 4 else 1, text=['Art\u0131st']))
t.add(TALB(encoding=0, text=['Album ']))
t.add(TDRC(encoding=0, text=['2004']))
t.add(TCON(encoding=0, text=['(17)(18)Custom']))
t.add(COMM(encoding=0, lang='eng', desc='iTunSMPB', text=[' 00000000 00000210']))
t.add(COMM(encoding=1, lang='eng', desc='', text=['plain comment']))
t.add(COMM(encoding=1, lang='eng', desc='Liner notes', text=['Notes']))
t.add(USLT(encoding=1, lang='eng', desc='', text='line1\nline2'))
t.add(TXXX(encoding=1, desc='one', text=['1']))
t.add(TXXX(encoding=1, desc='two', text=['2']))
t.add(WXXX(encoding=0, desc='', url='http://a/'))
t.add(WXXX(encoding=0, desc='b', url='http://b/'))
t.add(APIC(encoding=0, mime='image/png', type=3, desc='', data=b'\x89PNG' + bytes(range(256))))
t.add(CHAP(element_id='ch0', start_time=0, end_time=1000,
           sub_frames=[TIT2(encoding=3 if version == 4 else 1, text=['Chapter'])]))
t.add(CTOC(element_id='toc', flags=CTOCFlags.TOP_LEVEL | CTOCFlags.ORDERED,
           child_element_ids=['ch0'], sub_frames=[TIT2(encoding=0, text=['TOC'])]))
t.add(RVA2(desc='track', channel=1, gain=-2.0, peak=0.9))
t.add(SYLT(encoding=0, lang='eng', format=2, type=1, desc='', text=[('a', 0), ('b', 500)]))
t.add(GEOB(encoding=0, mime='application/x', filename='f.bin', desc='obj', data=b'\0\1\2'))
t.add(PRIV(owner='owner', data=b'\0\xff\0'))
t.add(POPM(email='a@b', rating=200, count=5))
t.save(path, v2_version=version)
)";

// How many frames mutagen finds, and the tag's major version, into `out`.
constexpr const char* MutagenCountScript = R"(
import sys
from mutagen.id3 import ID3
t = ID3(sys.argv[1])
open(sys.argv[2], 'w').write('%d %d' % (len(list(t.values())), t.version[1]))
)";

void WriteWithTagLib(const std::string& path, uint8_t version) {
    using namespace TagLib::ID3v2;
    TagLib::MPEG::File file(path.c_str());
    Tag* tag = file.ID3v2Tag(true);
    const TagLib::String::Type utf16 = TagLib::String::UTF16;
    tag->setTitle(TagLib::String("T\xC3\xADtulo", TagLib::String::UTF8));
    tag->setArtist("Artist");
    tag->setAlbum("Album");
    tag->setYear(2001);
    tag->setTrack(4);
    auto* norm = new CommentsFrame(utf16);
    norm->setDescription("iTunNORM");
    norm->setText(" 0000029A 00000000");
    tag->addFrame(norm);
    auto* comment = new CommentsFrame(utf16);
    comment->setText("A comment");
    tag->addFrame(comment);
    auto* lyrics = new UnsynchronizedLyricsFrame(utf16);
    lyrics->setText("La la\nla");
    tag->addFrame(lyrics);
    auto* picture = new AttachedPictureFrame;
    picture->setMimeType("image/jpeg");
    picture->setPicture(TagLib::ByteVector(3000, 'j'));
    tag->addFrame(picture);
    for (const char* description : {"one", "two"}) {
        auto* text = new UserTextIdentificationFrame(utf16);
        text->setDescription(description);
        text->setText(description);
        tag->addFrame(text);
    }
    for (const char* description : {"", "shop"}) {
        auto* url = new UserUrlLinkFrame;
        url->setDescription(description);
        url->setUrl(std::string("http://x/") + description);
        tag->addFrame(url);
    }
    auto* priv = new PrivateFrame;
    priv->setOwner("owner");
    priv->setData(TagLib::ByteVector("\x00\x01\x02", 3));
    tag->addFrame(priv);
    auto* popm = new PopularimeterFrame;
    popm->setEmail("a@b");
    popm->setRating(200);
    popm->setCounter(5);
    tag->addFrame(popm);
    auto* volume = new RelativeVolumeFrame;
    volume->setIdentification("track");
    volume->setVolumeAdjustment(-2.0f);
    tag->addFrame(volume);
    auto* object = new GeneralEncapsulatedObjectFrame;
    object->setMimeType("application/x");
    object->setFileName("f.bin");
    object->setDescription("obj");
    object->setObject(TagLib::ByteVector("\x00\x01", 2));
    tag->addFrame(object);
    auto* chapterTitle = new TextIdentificationFrame("TIT2", TagLib::String::Latin1);
    chapterTitle->setText("Chapter 1");
    FrameList chapterFrames;
    chapterFrames.append(chapterTitle);
    tag->addFrame(new ChapterFrame(TagLib::ByteVector("ch0"), 0, 1000, 0xFFFFFFFF, 0xFFFFFFFF,
                                   chapterFrames));
    TagLib::ByteVectorList children;
    children.append(TagLib::ByteVector("ch0"));
    auto* toc = new TableOfContentsFrame(TagLib::ByteVector("toc"), children);
    toc->setIsTopLevel(true);
    tag->addFrame(toc);
    ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers,
                          version == 4 ? TagLib::ID3v2::v4 : TagLib::ID3v2::v3));
}

size_t TagLibFrameCount(const std::string& path) {
    TagLib::MPEG::File file(path.c_str());
    return file.hasID3v2Tag() ? file.ID3v2Tag()->frameList().size() : 0;
}

std::string TagLibTitle(const std::string& path) {
    TagLib::MPEG::File file(path.c_str());
    return file.hasID3v2Tag() ? file.ID3v2Tag()->title().to8Bit(true) : std::string();
}

// The identifier of the frame an edit changes or adds.
std::string EditedId(TEdit edit, uint8_t version) {
    switch (edit) {
    case TEdit::teTitle:
        return "TIT2";
    case TEdit::teComment:
        return "COMM";
    case TEdit::teLyrics:
        return "USLT";
    case TEdit::teYear:
        return version == 4 ? "TDRC" : "TYER";
    case TEdit::teBPM:
        return "TBPM";
    default:
        return "";
    }
}

std::string Name(const ::testing::TestParamInfo<TRoundTrip>& info) {
    static const char* const Sources[] = {"Built", "Mutagen", "TagLib"};
    static const char* const Edits[] = {"NoEdit", "Title", "Comment", "Lyrics", "Year", "BPM"};
    return std::string(Sources[static_cast<int>(info.param.Source)]) + "V2" +
           std::to_string(info.param.Version) + Edits[static_cast<int>(info.param.Edit)];
}

std::vector<TRoundTrip> AllRoundTrips() {
    std::vector<TRoundTrip> all;
    for (const TSource source : {TSource::tsBuilt, TSource::tsMutagen, TSource::tsTagLib}) {
        for (const uint8_t version : {uint8_t{3}, uint8_t{4}}) {
            for (const TEdit edit : {TEdit::teNone, TEdit::teTitle, TEdit::teComment,
                                     TEdit::teLyrics, TEdit::teYear, TEdit::teBPM})
                all.push_back({source, version, edit});
        }
    }
    return all;
}

} // namespace

class DID3v2RoundTripTest : public ::testing::TestWithParam<TRoundTrip> {
protected:
    void SetUp() override {
        const TRoundTrip& trip = GetParam();
        switch (trip.Source) {
        case TSource::tsBuilt:
            CopyStandardMp3(Path);
            WriteBytes(Path, BuiltTag(trip.Version) + ReadBytes(Path));
            break;
        case TSource::tsMutagen:
            if (!HaveMutagen())
                GTEST_SKIP() << "python3-mutagen is not installed";
            CopyStandardMp3(Path);
            ASSERT_EQ(0, RunPython(MutagenScript, {Path, std::to_string(trip.Version)}));
            break;
        case TSource::tsTagLib:
            CopyStandardMp3(Path);
            WriteWithTagLib(Path, trip.Version);
            break;
        }
    }

    // mutagen's frame count and version of the file, as "count version".
    std::string MutagenView() {
        const std::string out = Dir.File("mutagen.txt");
        EXPECT_EQ(0, RunPython(MutagenCountScript, {Path, out}));
        return ReadBytes(out);
    }

    TTempDir Dir;
    std::string Path = Dir.File("song.mp3");
};

namespace {

// The edit a round trip makes, and what a reader sees of it afterwards.
const char* const NewTitle = "New \xE2\x80\x94 title";
const char* const NewComment = "New comment \xC3\xA9";
const char* const NewLyrics = "New lyrics \xE2\x99\xAA";

void ApplyEdit(TDID3v2& tag, TEdit edit) {
    switch (edit) {
    case TEdit::teNone:
        break;
    case TEdit::teTitle:
        tag.Title = NewTitle;
        break;
    case TEdit::teComment:
        tag.SetComment(NewComment, tag.MainCommentIndex());
        break;
    case TEdit::teLyrics:
        tag.SetLyrics(NewLyrics, 0);
        break;
    case TEdit::teYear:
        tag.Year = "2024";
        break;
    case TEdit::teBPM:
        tag.BPM = 133;
        break;
    }
}

// `again` is the file at `path` read after the save; TagLib reads the title.
void ExpectEdit(const TDID3v2& again, TEdit edit, const std::string& path) {
    switch (edit) {
    case TEdit::teTitle:
        EXPECT_EQ(NewTitle, TagLibTitle(path));
        break;
    case TEdit::teComment:
        EXPECT_EQ(NewComment, again.GetComment(again.MainCommentIndex()));
        break;
    case TEdit::teLyrics:
        EXPECT_EQ(NewLyrics, again.GetLyrics(0));
        break;
    case TEdit::teYear:
        EXPECT_EQ("2024", again.Year);
        break;
    default:
        EXPECT_EQ(133, again.BPM);
        break;
    }
}

} // namespace

TEST_P(DID3v2RoundTripTest, ChangesOnlyTheEditedFrameAndKeepsTheVersion) {
    const TRoundTrip& trip = GetParam();
    const std::string before = ReadBytes(Path);
    ASSERT_EQ(trip.Version, before[3]);
    const std::vector<TRawFrame> framesBefore = RawFrames(before);
    ASSERT_GT(framesBefore.size(), 15u);
    const auto oldTagEnd = static_cast<size_t>(LeadingTagSize(Path));
    const size_t tagLibBefore = TagLibFrameCount(Path);
    const std::string mutagenBefore = HaveMutagen() ? MutagenView() : "";

    TDID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(Path));
    const uint16_t bpmBefore = tag.BPM;
    ApplyEdit(tag, trip.Edit);
    ASSERT_TRUE(tag.SaveToFile(Path));
    const std::string after = ReadBytes(Path);
    EXPECT_TRUE(before.substr(oldTagEnd) == after.substr(static_cast<size_t>(LeadingTagSize(Path))))
        << "the audio changed";
    EXPECT_EQ(trip.Version, after[3]);

    if (trip.Edit == TEdit::teNone) {
        EXPECT_TRUE(before == after) << "a save without edits changed the file";
        return;
    }
    // Frames that are not exactly as before: one of the edited identifier in each list
    // (none before when the value was new), and the rest in the same order.
    const std::string edited = EditedId(trip.Edit, trip.Version);
    std::vector<TRawFrame> kept = framesBefore;
    std::vector<TRawFrame> now = RawFrames(after);
    std::vector<TRawFrame> gone, added;
    std::copy_if(kept.begin(), kept.end(), std::back_inserter(gone), [&](const TRawFrame& f) {
        return std::find(now.begin(), now.end(), f) == now.end();
    });
    std::copy_if(now.begin(), now.end(), std::back_inserter(added), [&](const TRawFrame& f) {
        return std::find(kept.begin(), kept.end(), f) == kept.end();
    });
    ASSERT_EQ(1u, added.size());
    EXPECT_EQ(edited, added[0].Id);
    EXPECT_EQ(std::string(2, '\0'), added[0].Flags);
    const bool hadValue = trip.Edit != TEdit::teBPM || bpmBefore != 0;
    ASSERT_EQ(hadValue ? 1u : 0u, gone.size());
    if (hadValue) {
        // A year frame of the other version is replaced by one of the tag's own.
        EXPECT_TRUE(gone[0].Id == edited ||
                    (trip.Edit == TEdit::teYear && (gone[0].Id == "TDRC" || gone[0].Id == "TYER")))
            << gone[0].Id;
    }
    std::erase_if(kept, [&](const TRawFrame& f) { return !gone.empty() && f == gone[0]; });
    std::erase_if(now, [&](const TRawFrame& f) { return f == added[0]; });
    EXPECT_TRUE(kept == now) << "another frame changed or moved";

    // The reader, TagLib and mutagen see the change and lose no frame.
    TDID3v2 again;
    ASSERT_TRUE(again.ReadFromFile(Path));
    EXPECT_EQ(trip.Version, again.VersionID);
    EXPECT_EQ(TagLibFrameCount(Path), tagLibBefore + (hadValue ? 0 : 1));
    ExpectEdit(again, trip.Edit, Path);
    if (HaveMutagen() && hadValue) {
        EXPECT_EQ(mutagenBefore, MutagenView());
    }
}

INSTANTIATE_TEST_SUITE_P(EachWriterVersionAndEdit, DID3v2RoundTripTest,
                         ::testing::ValuesIn(AllRoundTrips()), Name);
