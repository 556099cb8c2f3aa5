// The main window's construction and life cycle: the settings it reads at start and
// writes at exit, its activation, closing and drops, the links and the messages.
#include "app/main.h"

#include "app/AppPaths.h"
#include "app/Common.h"
#include "app/FileListBox.h"
#include "app/MyOptions.h"
#include "settings/ElFrmPers.h"
#include "settings/ElIni.h"
#include "tags/DID3v2.h"
#include "tags/ID3v1.h"
#include "tags/MPEGaudio.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QTabWidget>

#include <cerrno>
#include <cstring>
#include <exception>

namespace cantorell {

namespace {

QString GenreName(int index) {
    return QString::fromLatin1(GenreNames[index].data(),
                               static_cast<qsizetype>(GenreNames[index].size()));
}

} // namespace

TFormMain::TFormMain(TFormSeam* seam, QWidget* parent, const QString& settingsFolder)
    : QMainWindow(parent), Seam(seam), SettingsFolder(settingsFolder) {
    if (!Seam) {
        FOwnSeam = std::make_unique<TFormSeam>();
        Seam = FOwnSeam.get();
    }
    BuildLayout();
    FormCreate();
}

TFormMain::~TFormMain() {
    FormDestroy();
}

// ---------------------------------------------------------------------------------------
// Life cycle

void TFormMain::FormCreate() {
    TagV2 = std::make_unique<TDID3v2>();
    TagV1 = std::make_unique<TID3v1>();
    MpegAudio = std::make_unique<TMPEGaudio>();

    // Item 0 is the empty item; item k + 1 is genre k.
    for (QComboBox* list : {Ed1Genre, Ed2Genre})
        list->clear();
    Ed1Genre->addItem(QString());
    Ed2Genre->addItem(QString());
    for (int i = 0; i < GenreCount; ++i) {
        Ed1Genre->addItem(GenreName(i));
        Ed2Genre->addItem(GenreName(i));
    }

    // Settings start-up. A missing or unreadable options file leaves the store empty:
    // the window and the options keep their initial values and the file is written anew
    // at exit. The file's place is decided once, so the exit writes where the start read.
    if (SettingsFolder.isEmpty())
        SettingsFolder = QFileInfo(DefaultOptionsFile()).absolutePath();
    OptionsIni->SetPath(QFile::encodeName(OptionsPath()).toStdString());
    try {
        OptionsIni->Load();
    } catch (const std::exception&) {
    }
    AppOptions = std::make_unique<TMyOptions>();
    AppOptions->SetStorage(OptionsIni.get());
    AppOptions->SetStorageType(TElOptions::eosElIni);
    Guarded([this] { AppOptions->Load(); });

    FormReady = true;
    UpdateCommands();

    // Back where the user left: the last folder, and the last file itself when the
    // options say so.
    const QString last = AppOptions->LastFile;
    if (!last.isEmpty()) {
        Guarded([&] {
            const QFileInfo info(last);
            if (info.isFile() && !(AppOptions->ReopenFile && OpenPath(last)))
                OpenPath(info.absolutePath());
            else if (info.isDir())
                OpenPath(last);
        });
    }
}

void TFormMain::FormDestroy() {
    TagV2.reset();
    TagV1.reset();
    MpegAudio.reset();

    // Settings shut-down. Closing the window hid it, which stored its values; a window
    // destroyed while still shown stores them now. The component goes before the store
    // it writes into.
    if (isVisible())
        hide();
    delete ElFormPersist1;
    ElFormPersist1 = nullptr;
    // The shown file, else the listed folder, is where the next start opens. A file that
    // was remembered in the folder still listed stays remembered, so a session that only
    // looked at the folder does not forget it.
    const QString listed = FileListBox->Directory();
    const QString last = AppOptions->LastFile;
    if (!ShownPath.isEmpty())
        AppOptions->LastFile = ShownPath;
    else if (!listed.isEmpty() && last != listed && QFileInfo(last).absolutePath() != listed)
        AppOptions->LastFile = listed;
    Guarded([this] { AppOptions->Save(); });
    // The store replaces the file in one rename, so a folder that cannot be written or a
    // full disk leaves the previous file as it was; the message names the file, and the
    // program still ends normally. The first save makes the configuration folder.
    Guarded([this] {
        errno = 0;
        if (!MakeFolderFor(OptionsPath()) || !OptionsIni->Save()) {
            const int error = errno;
            Seam->ShowError(this,
                            QStringLiteral("Cannot save the options file \"") + OptionsPath() +
                                QStringLiteral("\""),
                            error ? QString::fromLocal8Bit(std::strerror(error)) : QString());
        }
    });
}

QString TFormMain::OptionsPath() const {
    return QDir(SettingsFolder).filePath(QLatin1String(OptionsFileName));
}

bool TFormMain::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return QMainWindow::event(event);
}

// Only the first activation clears the pages and shows the lyrics: later activations come
// back from message boxes and other windows, and must not throw away what the user typed.
void TFormMain::FormActivate() {
    if (!FormReady || FirstActivationDone)
        return;
    FirstActivationDone = true;
    // A file opened before the window was first shown (from the command line, or the last
    // file reopened) keeps its pages.
    if (ShownPath.isEmpty())
        ClearFields();
    PageControl->setCurrentIndex(fpLyrics);
}

// ---------------------------------------------------------------------------------------
// Links and messages

QUrl TFormMain::ProductPageAddress() {
    if (*ProductWebPage)
        return QUrl(QString::fromLatin1(ProductWebPage));
    return QUrl::fromLocalFile(ReadmeFile(QCoreApplication::applicationDirPath()));
}

void TFormMain::LB_LINKClick() {
    Guarded([this] { Seam->OpenAddress(ProductPageAddress()); });
}

void TFormMain::lbDemoClick() {
    const auto* label = qobject_cast<const QLabel*>(sender());
    if (!label)
        return;
    const QUrl address(label->toolTip());
    Guarded([this, address] { Seam->OpenAddress(address); });
}

void TFormMain::ShowError(const QString& text) {
    Seam->ShowError(this, text, QString());
}

void TFormMain::ShowFailure(const QString& message, const QString& path, int error,
                            const std::string& note) {
    // The tag object's own note (for example a file changed by another program) says more
    // than the last system error.
    Seam->ShowError(this, message + path,
                    note.empty() ? FailureReason(path, error) : FromUtf8(note));
}

void TFormMain::closeEvent(QCloseEvent* event) {
    bool leave = true;
    Guarded([&] { leave = ConfirmLeave(); });
    if (!leave) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

// A file or folder dragged from a file manager opens as if typed into the path field.
void TFormMain::dragEnterEvent(QDragEnterEvent* event) {
    const QMimeData* mime = event->mimeData();
    if (mime && mime->hasUrls() && !mime->urls().isEmpty() && mime->urls().first().isLocalFile())
        event->acceptProposedAction();
}

void TFormMain::dropEvent(QDropEvent* event) {
    const QMimeData* mime = event->mimeData();
    if (!mime || !mime->hasUrls() || mime->urls().isEmpty() || !mime->urls().first().isLocalFile())
        return;
    const QString path = mime->urls().first().toLocalFile();
    event->acceptProposedAction();
    Guarded([&] {
        if (!OpenPath(path) && !QFileInfo::exists(path))
            ShowFailure(QStringLiteral("Can not open: "), path, ENOENT);
    });
}

} // namespace cantorell
