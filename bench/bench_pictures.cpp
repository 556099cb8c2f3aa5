// What a cover costs when a file is read: the same MP3 with a 2.3 tag of a few texts, once
// without a picture and once with a 1 MB cover, read in full the way `show` reads it (the
// stream, the ID3v2 tag and the ID3v1 tag through one pinned open) and by TagLib (tags and
// audio properties) in the same run.
//
// Run: build-bench/bench/bench_pictures --benchmark_repetitions=3
//          --benchmark_report_aggregates_only=true
#include "platform/FileSystem.h"
#include "tags/DID3v2.h"
#include "tags/ID3v1.h"
#include "tags/MPEGaudio.h"
#include "tests/testsupport/TestFiles.h"

#include <benchmark/benchmark.h>

#include <attachedpictureframe.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <mpegproperties.h>

#include <memory>
#include <string>

using namespace cantorell;

namespace {

struct TFiles {
    test::TTempDir Dir;
    std::string Plain = Dir.File("plain.mp3");
    std::string Cover = Dir.File("cover.mp3");

    TFiles() {
        for (const std::string* path : {&Plain, &Cover}) {
            test::CopyStandardMp3(*path);
            TagLib::MPEG::File file(path->c_str());
            auto* tag = file.ID3v2Tag(true);
            tag->setTitle("A title");
            tag->setArtist("An artist");
            tag->setAlbum("An album");
            tag->setYear(2001);
            tag->setTrack(4);
            if (path == &Cover) {
                auto* picture = new TagLib::ID3v2::AttachedPictureFrame;
                picture->setMimeType("image/jpeg");
                picture->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
                const std::string image = "\xFF\xD8\xFF\xE0" + test::FakeAudio(1024 * 1024 - 4, 5);
                picture->setPicture(
                    TagLib::ByteVector(image.data(), static_cast<unsigned>(image.size())));
                tag->addFrame(picture);
            }
            file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v3);
        }
    }
};

TFiles& Files() {
    static TFiles files;
    return files;
}

const std::string& PathOf(const benchmark::State& state) {
    return state.range(0) ? Files().Cover : Files().Plain;
}

// The three readers of `show`, sharing one open of the file.
void BM_FullRead(benchmark::State& state) {
    const std::string& path = PathOf(state);
    TMPEGaudio mpeg;
    TDID3v2 v2;
    TID3v1 v1;
    for (auto _ : state) {
        const TReadPin pin(TFileSystem::Default(), path);
        benchmark::DoNotOptimize(mpeg.ReadFromFile(path));
        benchmark::DoNotOptimize(v2.ReadFromFile(path));
        benchmark::DoNotOptimize(v1.ReadFromFile(path));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FullRead)->ArgName("cover")->Arg(0)->Arg(1);

void BM_TagLib(benchmark::State& state) {
    const std::string& path = PathOf(state);
    for (auto _ : state) {
        TagLib::MPEG::File file(path.c_str(), true, TagLib::AudioProperties::Average);
        benchmark::DoNotOptimize(file.tag()->title());
        benchmark::DoNotOptimize(file.audioProperties()->bitrate());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TagLib)->ArgName("cover")->Arg(0)->Arg(1);

} // namespace

BENCHMARK_MAIN();
