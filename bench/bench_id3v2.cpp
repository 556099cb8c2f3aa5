// The ID3v2 tag: reading typical tags against TagLib on the same files, saving a changed
// title in place into a small and a large file, and rebuilding a large file against
// copying it with `cp` and flushing the copy with `sync`.
//
// Read files (real lame audio behind the tag):
//   v23-picture: a 2.3 tag with ten text frames, a comment and a 100 KB picture;
//   v24-utf8:    a 2.4 tag written by TagLib in UTF-8 with ten text frames and a comment.
// Save files: 2 MB and 200 MB of audio behind a 40000-byte tag with room to spare.
// Compare files per second (items_per_second, wall clock) of the pairs; the in-place saves should
// cost the same for both sizes; the rebuild should take at most 1.3 times the copy.
#include "platform/FileSystem.h"
#include "tags/DID3v2.h"
#include "tests/testsupport/TestFiles.h"

#include <benchmark/benchmark.h>

#include <attachedpictureframe.h>
#include <commentsframe.h>
#include <id3v2framefactory.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <textidentificationframe.h>

#include <cstdlib>
#include <memory>
#include <string>

using namespace cantorell;
using namespace cantorell::test;

namespace {

struct TFiles {
    TTempDir Dir;
    std::string V23 = Dir.File("v23-picture.mp3");
    std::string V24 = Dir.File("v24-utf8.mp3");
    std::string Small = Dir.File("save-2mb.mp3");
    std::string Large = Dir.File("save-200mb.mp3");
    std::string Rebuilt = Dir.File("rebuild-200mb.mp3");
    std::string Copy = Dir.File("copy-200mb.mp3");

    TFiles() {
        CopyStandardMp3(V23);
        TDID3v2 tag;
        tag.Title = "A title of some length", tag.Artist = "The Artist", tag.Album = "The Album";
        tag.Track = "3/12", tag.Year = "1999", tag.Genre = "Rock", tag.Composer = "Composer";
        tag.EncodedBy = "Encoder", tag.Band = "Band", tag.Subtitle = "Subtitle";
        tag.SetComment("A comment", 0);
        TFrameItem& picture = tag.Frames_Images.Add();
        picture.FrameID = "APIC";
        picture.Data = std::string("\0image/jpeg\0\x03\0", 14) + FakeAudio(100 * 1024, 5);
        tag.SaveToFile(V23);

        CopyStandardMp3(V24);
        TagLib::ID3v2::FrameFactory::instance()->setDefaultTextEncoding(TagLib::String::UTF8);
        {
            TagLib::MPEG::File file(V24.c_str());
            TagLib::ID3v2::Tag* v24 = file.ID3v2Tag(true);
            v24->setTitle(TagLib::String("T\xC3\xADtulo largo", TagLib::String::UTF8));
            v24->setArtist("Artista"), v24->setAlbum("\xC3\x81lbum"), v24->setYear(2004);
            v24->setTrack(7), v24->setGenre("Jazz"), v24->setComment("Comentario");
            for (const char* id : {"TCOM", "TENC", "TPE2", "TIT3"}) {
                auto* frame = new TagLib::ID3v2::TextIdentificationFrame(id, TagLib::String::UTF8);
                frame->setText(TagLib::String("Texto \xC3\xB1", TagLib::String::UTF8));
                v24->addFrame(frame);
            }
            file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4);
        }
        TagLib::ID3v2::FrameFactory::instance()->setDefaultTextEncoding(TagLib::String::Latin1);

        TDID3v2 padded;
        padded.Title = "Start";
        WriteBytes(Small, FakeAudio(2 << 20, 1));
        padded.SaveToFile(Small);
        WriteBytes(Large, FakeAudio(200 << 20, 2));
        padded.SaveToFile(Large);
        WriteBytes(Rebuilt, ReadBytes(Large));
    }
};

TFiles& Files() {
    static TFiles files;
    return files;
}

// Each benchmark names its file as a member of TFiles, which are made on first use.
using TFileOf = std::string TFiles::*;

void ReadCantorell(benchmark::State& state, TFileOf which) {
    const std::string& path = Files().*which;
    TDID3v2 tag;
    for (auto _ : state) {
        tag.ReadFromFile(path);
        benchmark::DoNotOptimize(tag.Title.data());
    }
    state.SetItemsProcessed(state.iterations());
}

// TagLib without audio properties: it reads the tags only, as we do.
void ReadTagLib(benchmark::State& state, TFileOf which) {
    const std::string& path = Files().*which;
    for (auto _ : state) {
        TagLib::MPEG::File file(path.c_str(), false);
        TagLib::String title = file.ID3v2Tag()->title();
        benchmark::DoNotOptimize(title.size());
    }
    state.SetItemsProcessed(state.iterations());
}

void SaveTitle(benchmark::State& state, TFileOf which) {
    const std::string& path = Files().*which;
    TDID3v2 tag;
    tag.ReadFromFile(path);
    int n = 0;
    for (auto _ : state) {
        tag.Title = "Title " + std::to_string(++n);
        if (!tag.SaveToFile(path))
            state.SkipWithError("save failed");
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Rebuild_200MB(benchmark::State& state) {
    TDID3v2 tag;
    tag.ReadFromFile(Files().Rebuilt);
    // The tag as a save renders it for a file without one: padded to the standard size.
    TDID3v2::TRenderedTag rendered;
    tag.Render(TagInfo{}, rendered);
    for (auto _ : state) {
        if (!tag.RebuildFile(Files().Rebuilt, rendered.Bytes))
            state.SkipWithError("rebuild failed");
    }
    state.SetBytesProcessed(state.iterations() * (200LL << 20));
}

void BM_CopyAndSync_200MB(benchmark::State& state) {
    const std::string command =
        "cp '" + Files().Large + "' '" + Files().Copy + "' && sync '" + Files().Copy + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("cp failed");
    }
    state.SetBytesProcessed(state.iterations() * (200LL << 20));
}

} // namespace

BENCHMARK_CAPTURE(ReadCantorell, V23Picture, &TFiles::V23)->UseRealTime();
BENCHMARK_CAPTURE(ReadTagLib, V23Picture, &TFiles::V23)->UseRealTime();
BENCHMARK_CAPTURE(ReadCantorell, V24Utf8, &TFiles::V24)->UseRealTime();
BENCHMARK_CAPTURE(ReadTagLib, V24Utf8, &TFiles::V24)->UseRealTime();
BENCHMARK_CAPTURE(SaveTitle, InPlace_2MB, &TFiles::Small)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(50)
    ->UseRealTime();
BENCHMARK_CAPTURE(SaveTitle, InPlace_200MB, &TFiles::Large)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(50)
    ->UseRealTime();
BENCHMARK(BM_CopyAndSync_200MB)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_Rebuild_200MB)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_CopyAndSync_200MB)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_Rebuild_200MB)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

BENCHMARK_MAIN();
