// What `show` costs per file: the stream analysis and both tags, read through the same
// classes the command-line tool uses, against TagLib reading the tags and the audio
// properties of the same files.
//
// The files: 5,000 MP3s made once into a cache folder (CANTORELL_BENCH_CACHE, or a folder
// under the system's temporary folder) and reused by later runs. A handful of lame
// encodes (constant, variable and average rate; MPEG 1, 2 and 2.5; mono, joint and plain
// stereo; with and without lame's Info header) are copied and tagged differently through
// TagLib: no tag, ID3v1 only, small ID3v2.3 or ID3v2.4 tags, and large tags with a picture
// and lyrics. Every file is read once before timing, so the cache is warm.
#include "platform/FileSystem.h"
#include "tags/DID3v2.h"
#include "tags/ID3v1.h"
#include "tags/MPEGaudio.h"
#include "tests/testsupport/TestFiles.h"

#include <benchmark/benchmark.h>

#include <attachedpictureframe.h>
#include <id3v1tag.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <mpegproperties.h>
#include <tag.h>
#include <unsynchronizedlyricsframe.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace cantorell;

namespace {

constexpr int FileCount = 5000;
constexpr const char* CompleteMarker = ".complete-v1";

struct TMaster {
    const char* Name;
    cantorell::test::TLameOptions Options;
};

const TMaster Masters[] = {
    {"cbr128-joint-44k", {{"-b", "128", "-m", "j"}, 44100, 2, 5.0}},
    {"cbr320-stereo-48k-noinfo", {{"-b", "320", "-m", "s", "-t"}, 48000, 2, 4.0}},
    {"cbr64-mpeg2-22k", {{"-b", "64", "-m", "j"}, 22050, 2, 6.0}},
    {"cbr32-mpeg2-mono-16k", {{"-b", "32", "-m", "m"}, 16000, 1, 5.0}},
    {"cbr24-mpeg25-mono-11k", {{"-b", "24", "-m", "m", "-t"}, 11025, 1, 4.0}},
    {"vbr-v2-joint-44k", {{"-V", "2", "-m", "j"}, 44100, 2, 5.0}},
    {"vbr-v6-mpeg2-22k", {{"-V", "6", "-m", "s"}, 22050, 2, 6.0}},
    {"vbr-v5-mono-32k", {{"-V", "5", "-m", "m"}, 32000, 1, 5.0}},
    {"abr160-joint-44k", {{"--abr", "160", "-m", "j"}, 44100, 2, 5.0}},
};

std::string CacheFolder() {
    if (const char* folder = std::getenv("CANTORELL_BENCH_CACHE"))
        return folder;
    return (fs::temp_directory_path() / "tagcantorell-bench-show").string();
}

TagLib::String Text(const std::string& text) {
    return TagLib::String(text, TagLib::String::UTF8);
}

// Tags file number `i` in one of six ways.
void TagVariant(const std::string& path, int i) {
    const int kind = i % 6;
    if (kind == 0)
        return; // audio only
    TagLib::MPEG::File file(path.c_str(), false);
    const std::string n = std::to_string(i);
    auto* v1 = file.ID3v1Tag(true);
    v1->setTitle(Text("Title " + n));
    v1->setArtist(Text("Artist " + std::to_string(i % 37)));
    v1->setAlbum(Text("Album " + std::to_string(i % 101)));
    v1->setYear(1960 + static_cast<unsigned>(i % 60));
    v1->setTrack(static_cast<unsigned>(i % 20 + 1));
    v1->setGenre("Rock");
    if (kind == 1) {
        file.save(TagLib::MPEG::File::ID3v1, TagLib::File::StripOthers);
        return;
    }
    auto* v2 = file.ID3v2Tag(true);
    v2->setTitle(Text("Titel Nummer " + n + " \u00e4\u00f6\u00fc"));
    v2->setArtist(Text("K\u00fcnstler " + std::to_string(i % 37)));
    v2->setAlbum(Text("Album " + std::to_string(i % 101)));
    v2->setComment(Text("Comment for file " + n));
    v2->setYear(1960 + static_cast<unsigned>(i % 60));
    v2->setTrack(static_cast<unsigned>(i % 20 + 1));
    v2->setGenre("Jazz");
    if (kind >= 4) {
        auto* lyrics = new TagLib::ID3v2::UnsynchronizedLyricsFrame(TagLib::String::UTF16);
        std::string text;
        for (int line = 0; line < 40; ++line)
            text += "Line " + std::to_string(line) + " of the song number " + n + "\n";
        lyrics->setText(Text(text));
        v2->addFrame(lyrics);
        auto* picture = new TagLib::ID3v2::AttachedPictureFrame;
        picture->setMimeType("image/jpeg");
        picture->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        const auto size = static_cast<unsigned>(10000 + (i % 50) * 1000);
        TagLib::ByteVector bytes(size, '\0');
        for (unsigned b = 0; b < size; ++b)
            bytes[b] = static_cast<char>((b * 2654435761u) >> 24);
        picture->setPicture(bytes);
        v2->addFrame(picture);
    }
    const int tags = kind == 3 ? TagLib::MPEG::File::ID3v2
                               : TagLib::MPEG::File::ID3v1 | TagLib::MPEG::File::ID3v2;
    file.save(tags, TagLib::File::StripOthers,
              kind == 2 || kind == 4 ? TagLib::ID3v2::v3 : TagLib::ID3v2::v4);
}

// The paths of the benchmark's files, made when the cache does not hold them yet, and read
// once so that the timed runs find them in the page cache.
const std::vector<std::string>& Files() {
    static const std::vector<std::string> files = [] {
        const std::string folder = CacheFolder();
        std::vector<std::string> paths;
        for (int i = 0; i < FileCount; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "/file-%04d.mp3", i);
            paths.push_back(folder + name);
        }
        if (!fs::exists(folder + "/" + CompleteMarker)) {
            std::fprintf(stderr, "Making %d files in %s ...\n", FileCount, folder.c_str());
            fs::create_directories(folder + "/masters");
            std::vector<std::string> masters;
            for (const auto& master : Masters) {
                masters.push_back(folder + "/masters/" + master.Name + ".mp3");
                cantorell::test::EncodeWithLame(masters.back(), master.Options);
            }
            for (int i = 0; i < FileCount; ++i) {
                fs::copy_file(masters[static_cast<size_t>(i) % masters.size()], paths[i],
                              fs::copy_options::overwrite_existing);
                TagVariant(paths[i], i / static_cast<int>(std::size(Masters)));
            }
            std::ofstream(folder + "/" + CompleteMarker) << FileCount << '\n';
        }
        for (const auto& path : paths)
            benchmark::DoNotOptimize(cantorell::test::ReadBytes(path).size());
        return paths;
    }();
    return files;
}

// One file per iteration, going round the whole folder.
template <typename TRead> void ForEachFile(benchmark::State& state, TRead read) {
    const auto& files = Files();
    size_t next = 0;
    for (auto _ : state) {
        read(files[next]);
        if (++next == files.size())
            next = 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("files");
}

// What `show` does for a file: the stream, then the ID3v2 tag, then the ID3v1 tag, each
// from a fresh object, with the file pinned open for the three, as the window and the
// command-line tool do.
void BM_ShowAll(benchmark::State& state) {
    ForEachFile(state, [](const std::string& path) {
        const TReadPin pin(TFileSystem::Default(), path);
        TMPEGaudio audio;
        benchmark::DoNotOptimize(audio.ReadFromFile(path));
        benchmark::DoNotOptimize(audio.Version());
        benchmark::DoNotOptimize(audio.ChannelMode());
        benchmark::DoNotOptimize(audio.BitRate());
        benchmark::DoNotOptimize(audio.SampleRate());
        TDID3v2 v2;
        benchmark::DoNotOptimize(v2.ReadFromFile(path));
        benchmark::DoNotOptimize(v2.Title);
        benchmark::DoNotOptimize(v2.GetComment(v2.MainCommentIndex()));
        benchmark::DoNotOptimize(v2.GetLyrics(0));
        TID3v1 v1;
        benchmark::DoNotOptimize(v1.ReadFromFile(path));
        benchmark::DoNotOptimize(v1.Title());
        benchmark::DoNotOptimize(v1.Genre());
    });
}

// The stream analysis alone.
void BM_Stream(benchmark::State& state) {
    ForEachFile(state, [](const std::string& path) {
        TMPEGaudio audio;
        benchmark::DoNotOptimize(audio.ReadFromFile(path));
        benchmark::DoNotOptimize(audio.BitRate());
    });
}

// Each tag alone, to see where the time of a show goes.
void BM_ID3v2(benchmark::State& state) {
    ForEachFile(state, [](const std::string& path) {
        TDID3v2 v2;
        benchmark::DoNotOptimize(v2.ReadFromFile(path));
    });
}

void BM_ID3v1(benchmark::State& state) {
    ForEachFile(state, [](const std::string& path) {
        TID3v1 v1;
        benchmark::DoNotOptimize(v1.ReadFromFile(path));
    });
}

// TagLib reading both tags and the audio properties, the way a tag editor opens a file.
void BM_TagLib(benchmark::State& state) {
    ForEachFile(state, [](const std::string& path) {
        TagLib::MPEG::File file(path.c_str(), true, TagLib::AudioProperties::Average);
        const TagLib::Tag* tag = file.tag();
        benchmark::DoNotOptimize(tag->title());
        benchmark::DoNotOptimize(tag->artist());
        benchmark::DoNotOptimize(tag->comment());
        const auto* properties = file.audioProperties();
        benchmark::DoNotOptimize(properties->bitrate());
        benchmark::DoNotOptimize(properties->sampleRate());
        benchmark::DoNotOptimize(properties->channelMode());
        benchmark::DoNotOptimize(properties->version());
    });
}

} // namespace

BENCHMARK(BM_ShowAll)->MinTime(3.0);
BENCHMARK(BM_Stream)->MinTime(3.0);
BENCHMARK(BM_ID3v2)->MinTime(3.0);
BENCHMARK(BM_ID3v1)->MinTime(3.0);
BENCHMARK(BM_TagLib)->MinTime(3.0);

BENCHMARK_MAIN();
