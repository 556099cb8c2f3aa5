#include "PictureBox.h"

#include "app/Common.h"
#include "app/FormSeam.h"
#include "platform/FileSystem.h"
#include "tags/DID3v2.h"
#include "tags/Picture.h"

#include <QBuffer>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QLocale>
#include <QMimeData>
#include <QPixmap>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <cerrno>
#include <cstring>

namespace cantorell {

namespace {

// The square the picture is shown in, in pixels.
constexpr int PreviewSide = 160;

QString TypeName(uint8_t type) {
    return FromUtf8(std::string(PictureTypeName(type)));
}

QToolButton* MakeButton(QWidget* parent, const char* name, const QString& text,
                        const QString& hint) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setText(text);
    button->setToolTip(hint);
    button->setAutoRaise(true);
    return button;
}

// The image files a user may add: a regular file (a FIFO or a device named like an image
// is refused at once) of at most MaxPictureFileSize bytes. Empty with `reason` set when
// it cannot be taken.
std::string ReadImageFile(const QString& path, QString& reason) {
    TFileSystem& fs = TFileSystem::Default();
    errno = 0;
    auto file = fs.Open(NativePath(path), TOpenMode::omReadOnly);
    int64_t size = 0;
    if (!file || !file->Size(size)) {
        reason = errno ? QString::fromLocal8Bit(std::strerror(errno)) : QString();
        return {};
    }
    if (size > MaxPictureFileSize) {
        reason = QStringLiteral("A picture is at most %1 MB.").arg(MaxPictureFileSize >> 20);
        return {};
    }
    std::string bytes(static_cast<size_t>(size), '\0');
    const int64_t got = file->ReadAt(0, bytes.data(), size);
    if (got < 0) {
        reason = QString::fromLocal8Bit(std::strerror(errno));
        return {};
    }
    bytes.resize(static_cast<size_t>(got));
    if (SniffImage(bytes).Mime.empty()) {
        reason = QStringLiteral("It is no JPEG, PNG, GIF, WebP or BMP image.");
        return {};
    }
    return bytes;
}

} // namespace

QImage DecodePicture(const std::string& bytes, QSize box) {
    QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAllocationLimit(PictureAllocationLimitMB);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > box.width() || size.height() > box.height())) {
        // JPEG decodes straight at a fraction of its size; other formats are read whole,
        // which the allocation limit bounds, and then scaled.
        if (reader.supportsOption(QImageIOHandler::ScaledSize))
            reader.setScaledSize(size.scaled(box, Qt::KeepAspectRatio));
    }
    QImage image = reader.read();
    if (!image.isNull() && (image.width() > box.width() || image.height() > box.height()))
        image = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

TPictureBox::TPictureBox(TFormSeam& seam, QWidget* parent)
    : QWidget(parent), Seam(seam), FLatest(std::make_shared<std::atomic<uint64_t>>(0)) {
    // One picture at a time: the window keeps the other core, and stepping quickly through
    // files never has more than one picture's bytes loaded.
    FDecoder.setMaxThreadCount(1);
    setObjectName(QStringLiteral("PictureBox"));
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    Image = new QLabel(this);
    Image->setObjectName(QStringLiteral("PictureImage"));
    Image->setFixedSize(PreviewSide, PreviewSide);
    Image->setAlignment(Qt::AlignCenter);
    Image->setFrameShape(QFrame::StyledPanel);
    Image->setToolTip(QStringLiteral("Drop an image file here to add it"));
    layout->addWidget(Image, 0, Qt::AlignHCenter);

    auto* stepper = new QHBoxLayout;
    btPrevPicture =
        MakeButton(this, "btPrevPicture", QStringLiteral("<"), QStringLiteral("Previous picture"));
    btNextPicture =
        MakeButton(this, "btNextPicture", QStringLiteral(">"), QStringLiteral("Next picture"));
    Selector = new QLabel(this);
    Selector->setObjectName(QStringLiteral("PictureSelector"));
    Selector->setAlignment(Qt::AlignCenter);
    stepper->addWidget(btPrevPicture);
    stepper->addWidget(Selector, 1);
    stepper->addWidget(btNextPicture);
    layout->addLayout(stepper);

    Info = new QLabel(this);
    Info->setObjectName(QStringLiteral("PictureInfo"));
    Info->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Info->setTextFormat(Qt::PlainText);
    Info->setWordWrap(true);
    Info->setFixedWidth(PreviewSide);
    layout->addWidget(Info);

    PictureType = new QComboBox(this);
    PictureType->setObjectName(QStringLiteral("PictureType"));
    for (uint8_t type = 0; type < PictureTypeCount; ++type)
        PictureType->addItem(TypeName(type));
    PictureType->setCurrentIndex(PictureTypeFrontCover);
    PictureType->setToolTip(QStringLiteral("The type of a picture added"));
    layout->addWidget(PictureType);

    btAddPicture = MakeButton(this, "btAddPicture", QStringLiteral("Add or replace\u2026"),
                              QStringLiteral("Add an image file as a picture of the type "
                                             "chosen above, replacing the one of that type"));
    btExportPicture = MakeButton(this, "btExportPicture", QStringLiteral("Export\u2026"),
                                 QStringLiteral("Save the picture's bytes as an image file"));
    btRemovePicture = MakeButton(this, "btRemovePicture", QStringLiteral("Remove"),
                                 QStringLiteral("Remove this picture from the tag"));
    for (QToolButton* button : {btAddPicture, btExportPicture, btRemovePicture})
        layout->addWidget(button, 0, Qt::AlignHCenter);
    layout->addStretch(1);

    connect(btPrevPicture, &QToolButton::clicked, this, [this] { Step(-1); });
    connect(btNextPicture, &QToolButton::clicked, this, [this] { Step(1); });
    connect(btAddPicture, &QToolButton::clicked, this, &TPictureBox::AddClick);
    connect(btExportPicture, &QToolButton::clicked, this, &TPictureBox::ExportClick);
    connect(btRemovePicture, &QToolButton::clicked, this, &TPictureBox::RemoveClick);
    Clear();
}

TPictureBox::~TPictureBox() {
    // Queued requests find their number outdated and end at once; the pool waits for the
    // one running, and the watchers (children of this widget) go after.
    ++*FLatest;
    FDecoder.waitForDone();
}

void TPictureBox::Clear() {
    FFile.clear();
    FEntries.clear();
    FRemoved.clear();
    FCurrent = -1;
    FChanged = false;
    ShowCurrent();
}

void TPictureBox::ShowTag(const TDID3v2& tag, const QString& file) {
    Clear();
    FFile = file;
    // Each picture's frame is parsed and its image's header read once per selection.
    const std::vector<TDID3v2::TPictureInfo> pictures = tag.Pictures();
    const int main = TDID3v2::MainPicture(pictures);
    for (const TDID3v2::TPictureInfo& picture : pictures) {
        TEntry entry;
        entry.Item = picture.Item;
        entry.Type = picture.Type;
        entry.Mime = FromUtf8(picture.Mime);
        entry.Description = FromUtf8(picture.Description);
        entry.Bytes = picture.Bytes;
        entry.Pixels = QSize(picture.Width, picture.Height);
        entry.Valid = picture.Valid;
        entry.Ref = tag.PictureRef(picture.Item);
        if (picture.Item == main)
            FCurrent = static_cast<int>(FEntries.size());
        FEntries.push_back(std::move(entry));
    }
    ShowCurrent();
}

void TPictureBox::FileReadAgain(const TDID3v2& tag) {
    // A reference names the file as it was read; after the other tag's save the file is
    // another, so the old references would refuse to load. A picture is matched by its
    // item and description: anything else, which another program changed meanwhile, keeps
    // its old reference and so is never shown or exported from the wrong bytes.
    for (const TDID3v2::TPictureInfo& picture : tag.Pictures()) {
        for (TEntry& entry : FEntries) {
            if (entry.Item == picture.Item && !entry.Replaced && entry.Type == picture.Type &&
                entry.Bytes == picture.Bytes && entry.Mime == FromUtf8(picture.Mime) &&
                entry.Description == FromUtf8(picture.Description))
                entry.Ref = tag.PictureRef(picture.Item);
        }
    }
}

void TPictureBox::ApplyTo(TDID3v2& tag) const {
    // Pictures an earlier, failed save put into the object are taken out again first, so
    // that trying once more does not add them twice.
    for (int i = 0; i < tag.Frames_Images.Count(); ++i) {
        if (tag.Frames_Images.Items(i).ReadFrame < 0)
            tag.RemovePicture(i);
    }
    for (const int item : FRemoved)
        tag.RemovePicture(item);
    for (const TEntry& entry : FEntries) {
        if (entry.Item < 0)
            tag.AddPicture(entry.Type, ToUtf8(entry.Description), *entry.Added);
        else if (entry.Replaced)
            tag.ReplacePicture(entry.Item, entry.Type, ToUtf8(entry.Description), *entry.Added);
    }
}

bool TPictureBox::AddFile(const QString& path) {
    QString reason;
    std::string bytes = ReadImageFile(path, reason);
    if (bytes.empty()) {
        Seam.ShowError(this, MsgCanNotRead + path, reason);
        return false;
    }
    const TImageHeader header = SniffImage(bytes);
    const auto type = static_cast<uint8_t>(PictureType->currentIndex());
    TEntry fresh;
    fresh.Type = type;
    fresh.Mime = FromUtf8(header.Mime);
    fresh.Bytes = static_cast<qint64>(bytes.size());
    fresh.Pixels = QSize(header.Width, header.Height);
    fresh.Added = std::make_shared<const std::string>(std::move(bytes));
    // The first picture of the type is replaced in its place (its description stays); any
    // further one of that type goes.
    int replaced = -1;
    for (int i = 0; i < Count(); ++i) {
        TEntry& entry = FEntries[static_cast<size_t>(i)];
        if (entry.Type != type)
            continue;
        if (replaced < 0) {
            replaced = i;
            fresh.Item = entry.Item;
            fresh.Replaced = entry.Item >= 0;
            fresh.Description = entry.Description;
            entry = fresh;
        } else {
            if (entry.Item >= 0)
                FRemoved.push_back(entry.Item);
            entry.Item = -2; // marked, erased below
        }
    }
    std::erase_if(FEntries, [](const TEntry& entry) { return entry.Item == -2; });
    if (replaced < 0) {
        FEntries.push_back(std::move(fresh));
        replaced = Count() - 1;
    }
    FCurrent = replaced;
    FChanged = true;
    ShowCurrent();
    emit Edited();
    return true;
}

void TPictureBox::AddClick() {
    QString chosen;
    if (FFile.isEmpty() ||
        !Seam.RunOpenPictureDialog(this, QFileInfo(FFile).absolutePath(), chosen))
        return;
    AddFile(chosen);
}

void TPictureBox::ExportClick() {
    if (FCurrent < 0)
        return;
    const TEntry& entry = FEntries[static_cast<size_t>(FCurrent)];
    const QFileInfo file(FFile);
    const QString extension = FromUtf8(std::string(PictureExtension(ToUtf8(entry.Mime))));
    const QString proposed =
        file.absoluteDir().filePath(file.completeBaseName() + QLatin1Char('.') + extension);
    QString chosen;
    if (!Seam.RunSavePictureDialog(this, proposed, chosen))
        return;
    // The tag's bytes are fetched only now, and only as they were when the file was shown.
    std::string loaded;
    const std::string* image = entry.Added.get();
    if (!image) {
        if (!TDID3v2::LoadPicture(entry.Ref, loaded)) {
            Seam.ShowError(this, MsgCanNotRead + FFile,
                           entry.Valid ? QStringLiteral("The file has changed since it was "
                                                        "shown; select it again.")
                                       : QStringLiteral("The picture's frame is damaged."));
            return;
        }
        image = &loaded;
    }
    TReplaceOptions options;
    options.CreateMissing = true;
    errno = 0;
    TFileSystem& fs = TFileSystem::Default();
    if (!fs.ReplaceContent(NativePath(chosen), *image, options)) {
        const int error = errno;
        QString reason = FromUtf8(fs.FailureNote());
        if (reason.isEmpty() && error)
            reason = QString::fromLocal8Bit(std::strerror(error));
        Seam.ShowError(this, QStringLiteral("Cannot create file \"%1\".").arg(chosen), reason);
    }
}

void TPictureBox::RemoveClick() {
    if (FCurrent < 0)
        return;
    const TEntry& entry = FEntries[static_cast<size_t>(FCurrent)];
    if (entry.Item >= 0)
        FRemoved.push_back(entry.Item);
    FEntries.erase(FEntries.begin() + FCurrent);
    FCurrent = std::min(FCurrent, Count() - 1);
    FChanged = true;
    ShowCurrent();
    emit Edited();
}

void TPictureBox::Step(int delta) {
    if (Count() < 2)
        return;
    FCurrent = (FCurrent + delta + Count()) % Count();
    ShowCurrent();
}

void TPictureBox::UpdateButtons() {
    const bool shown = FCurrent >= 0;
    btAddPicture->setEnabled(!FFile.isEmpty());
    btExportPicture->setEnabled(shown);
    btRemovePicture->setEnabled(shown);
    btPrevPicture->setVisible(Count() > 1);
    btNextPicture->setVisible(Count() > 1);
}

void TPictureBox::ShowCurrent() {
    const uint64_t request = ++*FLatest;
    UpdateButtons();
    Image->clear();
    if (FCurrent < 0 || FCurrent >= Count()) {
        FCurrent = -1;
        Image->setText(FFile.isEmpty() ? QString() : QStringLiteral("No picture"));
        Info->clear();
        Selector->clear();
        return;
    }
    const TEntry& entry = FEntries[static_cast<size_t>(FCurrent)];
    Selector->setText(Count() > 1 ? QStringLiteral("%1 of %2 \u00B7 %3")
                                        .arg(FCurrent + 1)
                                        .arg(Count())
                                        .arg(TypeName(entry.Type))
                                  : TypeName(entry.Type));
    QString info = entry.Mime.isEmpty() ? QStringLiteral("(no MIME type)") : entry.Mime;
    if (entry.Pixels.width() > 0)
        info +=
            QStringLiteral(", %1 \u00D7 %2").arg(entry.Pixels.width()).arg(entry.Pixels.height());
    info += QLatin1Char('\n') + QLocale().formattedDataSize(entry.Bytes) +
            QStringLiteral(" (%1 bytes)").arg(entry.Bytes);
    if (!entry.Description.isEmpty())
        info += QLatin1Char('\n') + entry.Description;
    Info->setText(TypeName(entry.Type) + QLatin1Char('\n') + info);

    // The load and the decode run on the pool; the window shows the result only while it is
    // still the latest request. A request already outdated when its turn comes is skipped
    // before it reads anything, so stepping quickly through many files with large pictures
    // runs no pile of loads, and one outdated while it loads is not decoded. A decode once
    // started is finished (an image reader cannot be stopped without a warning on the
    // console), but the pool runs one at a time.
    const TDID3v2::TPictureRef ref = entry.Ref;
    const std::shared_ptr<const std::string> added = entry.Added;
    const std::shared_ptr<std::atomic<uint64_t>> latest = FLatest;
    const QSize box(PreviewSide - 4, PreviewSide - 4);
    auto* watcher = new QFutureWatcher<QImage>(this);
    connect(watcher, &QFutureWatcher<QImage>::finished, this, [this, watcher, request] {
        watcher->deleteLater();
        if (request != *FLatest)
            return;
        const QImage image = watcher->result();
        if (image.isNull())
            Image->setText(QStringLiteral("No preview"));
        else
            Image->setPixmap(QPixmap::fromImage(image));
        emit PreviewReady();
    });
    watcher->setFuture(QtConcurrent::run(&FDecoder, [ref, added, latest, request, box] {
        if (request != *latest)
            return QImage();
        if (added)
            return DecodePicture(*added, box);
        std::string loaded;
        if (!TDID3v2::LoadPicture(ref, loaded) || request != *latest)
            return QImage();
        return DecodePicture(loaded, box);
    }));
}

void TPictureBox::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!FFile.isEmpty() && urls.size() == 1 && urls.first().isLocalFile())
        event->acceptProposedAction();
}

void TPictureBox::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (FFile.isEmpty() || urls.size() != 1 || !urls.first().isLocalFile())
        return;
    event->acceptProposedAction();
    AddFile(urls.first().toLocalFile());
}

} // namespace cantorell
