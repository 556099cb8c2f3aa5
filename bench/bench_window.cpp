// What the window costs where a user waits: starting it, listing a folder of 10,000 MP3
// files, and selecting a file (every page filled from the file: stream summary, ID3v2 with
// comment and lyrics, ID3v1).
//
// The files are made once per run under the system's temporary folder: a handful of lame
// encodes tagged the way common taggers tag them. The window runs on Qt's offscreen
// platform unless another one is set.
#include "app/FileListBox.h"
#include "app/main.h"
#include "tests/testsupport/TestFiles.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>

#include <id3v1tag.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <unsynchronizedlyricsframe.h>

#include <string>
#include <vector>

using namespace cantorell;
using namespace cantorell::test;

namespace {

constexpr int BigFolderCount = 10000;

// Answers nothing: the benchmarks never meet a message box.
class TQuietSeam : public TFormSeam {
public:
    void ShowMessage(QWidget*, const QString&) override {}
    void ShowError(QWidget*, const QString&, const QString&) override {}
    TSaveAnswer AskSaveChanges(QWidget*, const QString&) override { return TSaveAnswer::saDiscard; }
};

struct TFixture {
    TTempDir Dir;
    std::vector<QString> Typical;
    QString Big;

    TFixture() {
        const std::vector<TLameOptions> encodes = {
            {{"-b", "128"}, 44100, 2, 4.0},
            {{"-V", "2"}, 44100, 2, 4.0},
            {{"-b", "64", "-m", "m"}, 22050, 1, 4.0},
        };
        for (size_t i = 0; i < encodes.size(); ++i) {
            const std::string path = Dir.File("typical" + std::to_string(i) + ".mp3");
            EncodeWithLame(path, encodes[i]);
            TagLib::MPEG::File file(path.c_str());
            TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
            tag->setTitle("A typical title");
            tag->setArtist("A typical artist");
            tag->setAlbum("A typical album");
            tag->setTrack(static_cast<unsigned>(i + 1));
            tag->setYear(2020);
            tag->setGenre("Jazz");
            tag->setComment("A comment");
            auto* lyrics = new TagLib::ID3v2::UnsynchronizedLyricsFrame();
            lyrics->setText("First line\nSecond line\nThird line");
            tag->addFrame(lyrics);
            file.ID3v1Tag(true)->setTitle("A typical title");
            file.save(TagLib::MPEG::File::AllTags, TagLib::File::StripOthers,
                      i == 0 ? TagLib::ID3v2::v3 : TagLib::ID3v2::v4);
            Typical.push_back(QString::fromStdString(path));
        }
        Big = QString::fromStdString(Dir.File("big"));
        QDir().mkpath(Big);
        for (int i = 0; i < BigFolderCount; ++i)
            WriteBytes(Dir.File("big/Track " + std::to_string(BigFolderCount - i) + ".mp3"), "x");
    }
};

TFixture& Fixture() {
    static TFixture fixture;
    return fixture;
}

void BM_WindowStart(benchmark::State& state) {
    TQuietSeam seam;
    for (auto _ : state) {
        TFormMain form(&seam);
        form.show();
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(form.isVisible());
    }
}
BENCHMARK(BM_WindowStart)->Unit(benchmark::kMillisecond);

void BM_ListFolderOf10000Files(benchmark::State& state) {
    TQuietSeam seam;
    TFormMain form(&seam);
    form.show();
    for (auto _ : state) {
        form.FileListBox->SetDirectory(Fixture().Big);
        QCoreApplication::processEvents();
    }
    state.counters["files"] = form.FileListBox->count();
}
BENCHMARK(BM_ListFolderOf10000Files)->Unit(benchmark::kMillisecond);

void BM_SelectFile(benchmark::State& state) {
    TQuietSeam seam;
    TFormMain form(&seam);
    form.show();
    // Showing the window lets the tree select its first node and list that folder; the
    // test folder is listed after that, as a user's click would.
    QCoreApplication::processEvents();
    form.FileListBox->SetDirectory(QFileInfo(Fixture().Typical[0]).path());
    int row = 0;
    const int files = static_cast<int>(Fixture().Typical.size());
    for (auto _ : state) {
        form.FileListBox->setCurrentRow(row);
        QCoreApplication::processEvents();
        row = (row + 1) % files;
    }
    // A selection that filled nothing would measure nothing.
    state.counters["titleShown"] = form.Ed2Title->text().isEmpty() ? 0 : 1;
    state.counters["files"] = form.FileListBox->count();
}
BENCHMARK(BM_SelectFile)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QElapsedTimer sinceStart;
    sinceStart.start();
    QApplication app(argc, argv);
    {
        // From an empty process to a window on screen, once, as a user starts the program.
        TQuietSeam seam;
        TFormMain form(&seam);
        form.show();
        QCoreApplication::processEvents();
        std::printf("First window shown %lld ms after the application object was made\n",
                    static_cast<long long>(sinceStart.elapsed()));
    }
    Fixture();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
