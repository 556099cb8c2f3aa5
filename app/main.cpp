#include "app/main.h"

#include "app/AppPaths.h"
#include "app/Common.h"
#include "app/FileListBox.h"
#include "app/MyOptions.h"
#include "app/PictureBox.h"
#include "app/SplitGroupBox.h"
#include "browse/FolderTree.h"
#include "platform/Ascii.h"
#include "platform/FileSystem.h"
#include "settings/ElFrmPers.h"
#include "settings/ElIni.h"
#include "tags/DID3v2.h"
#include "tags/ID3v1.h"
#include "tags/MPEGaudio.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTextBlock>
#include <QToolButton>
#include <QVBoxLayout>

#include <cerrno>
#include <cstring>
#include <exception>
#include <stdexcept>

namespace cantorell {

namespace {

const QString TagNotFound = QStringLiteral("Tag Not Found");
const QString FileMask = QStringLiteral("*.mp?;*.mp+");

// The properties ElFormPersist1 keeps besides the window's own values, in the byte form
// of its property list: the root has two children, FolderTree1 (kind 0) with its Width
// (kind 1) and GroupBoxExplorer (kind 0) with its Height (kind 1).
const QByteArray StoredProperties = [] {
    static const char bytes[] = "\x02\x00\x00\x00"
                                "\x01\x00\x00\x00"
                                "\x00\x00"
                                "\x0b\x00\x00\x00"
                                "FolderTree1"
                                "\x00\x00\x00\x00"
                                "\x01\x01"
                                "\x05\x00\x00\x00"
                                "Width"
                                "\x01\x00\x00\x00"
                                "\x00\x00"
                                "\x10\x00\x00\x00"
                                "GroupBoxExplorer"
                                "\x00\x00\x00\x00"
                                "\x01\x01"
                                "\x06\x00\x00\x00"
                                "Height";
    return QByteArray(bytes, sizeof bytes - 1);
}();

// ID3v1 edit boxes take at most 255 bytes of text before the tag's setters trim and cut.
std::string ToLatin1Field(const QString& text) {
    return text.toLatin1().left(255).toStdString();
}

QString GenreName(int index) {
    return QString::fromLatin1(GenreNames[index].data(),
                               static_cast<qsizetype>(GenreNames[index].size()));
}

// Removes leading and trailing characters up to U+0020 (spaces and control characters).
QString TrimControl(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 0x20)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, int width = 0) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    if (width > 0)
        edit->setFixedWidth(width);
    return edit;
}

QComboBox* MakeGenreList(QWidget* parent, const char* name) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QLatin1String(name));
    list->setEditable(true);
    // Typed texts stay texts: they are never added to the list as new items.
    list->setInsertPolicy(QComboBox::NoInsert);
    list->setMaxVisibleItems(20);
    list->setFixedWidth(160);
    return list;
}

QToolButton* MakeButton(QWidget* parent, const char* name, const QString& caption,
                        const QString& tip = QString()) {
    auto* button = new QToolButton(parent);
    button->setToolTip(tip.isEmpty() ? caption : tip);
    button->setObjectName(QLatin1String(name));
    button->setText(caption);
    button->setAutoRaise(true); // a flat button, raised under the mouse
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return button;
}

QLabel* MakeLinkLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setText(
        QStringLiteral("<a href=\"#\" style=\"color:#0000ff\">%1</a>").arg(text.toHtmlEscaped()));
    label->setTextFormat(Qt::RichText);
    label->setCursor(Qt::PointingHandCursor);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    return label;
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
// Layout

void TFormMain::BuildLayout() {
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(QStringLiteral("Tag Cantorell"));
    setAcceptDrops(true);
    // A first start (nothing stored yet) opens at about two thirds of the screen, centred,
    // so the tree and the list are comfortable to use; a later start restores what the
    // user left.
    QRect available(26, 117, 960, 720);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        available = screen->availableGeometry();
    const QSize firstSize(available.width() * 2 / 3, available.height() * 2 / 3);
    resize(firstSize);
    move(available.center() - QPoint(firstSize.width() / 2, firstSize.height() / 2));

    auto* central = new QWidget(this);
    auto* centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(2, 2, 2, 2);

    Splitter2 = new QSplitter(Qt::Vertical, central);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));
    Splitter2->setHandleWidth(3);
    Splitter2->setChildrenCollapsible(false);
    centralLayout->addWidget(Splitter2);

    GroupBoxExplorer = new TSplitGroupBox(QStringLiteral("Explorer"), Splitter2);
    GroupBoxExplorer->setObjectName(QStringLiteral("GroupBoxExplorer"));
    auto* explorerLayout = new QVBoxLayout(GroupBoxExplorer);
    explorerLayout->setContentsMargins(4, 4, 4, 4);
    explorerLayout->setSpacing(3);
    EdPath = new QLineEdit(GroupBoxExplorer);
    EdPath->setObjectName(QStringLiteral("EdPath"));
    EdPath->setPlaceholderText(QStringLiteral("Type or paste a folder or file, then press Enter"));
    EdPath->setToolTip(QStringLiteral("Open a folder or file by its path (Ctrl+L)"));
    EdPath->setClearButtonEnabled(true);
    explorerLayout->addWidget(EdPath);
    Splitter1 = new QSplitter(Qt::Horizontal, GroupBoxExplorer);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);
    explorerLayout->addWidget(Splitter1);

    FolderTree1 = new TFolderTree(Splitter1);
    FolderTree1->setObjectName(QStringLiteral("FolderTree1"));
    FolderTree1->SetActive(true);
    FileListBox = new TFileListBox(Splitter1);
    FileListBox->setObjectName(QStringLiteral("FileListBox"));
    FileListBox->setFont(QFont(QStringLiteral("Verdana"), 8));
    FileListBox->SetMask(FileMask);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({firstSize.width() * 2 / 5, firstSize.width() * 3 / 5});

    GroupBoxEditor = new QGroupBox(QStringLiteral("Tag Information"), Splitter2);
    GroupBoxEditor->setObjectName(QStringLiteral("GroupBoxEditor"));
    auto* editorLayout = new QVBoxLayout(GroupBoxEditor);
    editorLayout->setContentsMargins(4, 4, 4, 4);

    Panel1 = new QLabel(QStringLiteral("PanelInfo"), GroupBoxEditor);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(21);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(2);
    Panel1->setAutoFillBackground(true);
    QFont panelFont(QStringLiteral("Verdana"), 8);
    panelFont.setBold(true);
    Panel1->setFont(panelFont);
    QPalette panelPalette = Panel1->palette();
    panelPalette.setColor(QPalette::Window, panelPalette.color(QPalette::Dark));
    panelPalette.setColor(QPalette::WindowText, panelPalette.color(QPalette::Base));
    Panel1->setPalette(panelPalette);
    Panel1->setTextFormat(Qt::PlainText);
    editorLayout->addWidget(Panel1);

    PageControl = new QTabWidget(GroupBoxEditor);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    // The tag pages' fields scroll rather than hold the window to their full height, so
    // the splitter above them can be dragged whatever the window's size.
    PageControl->addTab(BuildID3v1Page(), QStringLiteral("ID3v1"));
    PageControl->addTab(BuildID3v2Page(), QStringLiteral("ID3v2"));
    PageControl->addTab(BuildLyricsPage(), QStringLiteral("Lyrics"));
    PageControl->addTab(BuildMpegPage(), QStringLiteral("MPEG Info"));
    PageControl->addTab(BuildAboutPage(), QStringLiteral("About"));
    PageControl->addTab(BuildOurSoftwarePage(), QStringLiteral("Our Software"));
    PageControl->setCurrentIndex(fpAbout);
    editorLayout->addWidget(PageControl);

    Splitter2->setStretchFactor(1, 1);
    Splitter2->setSizes({firstSize.height() * 45 / 100, firstSize.height() * 55 / 100});
    setCentralWidget(central);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    setStatusBar(StatusBar1);

    // The options store and the form-persistence component, as the layout sets them up.
    OptionsIni = std::make_unique<TElIniFile>();
    OptionsIni->SetBinaryMode(false);
    OptionsIni->SetComment(";");
    OptionsIni->SetDelimiter('\\');
    OptionsIni->SetRegRoot(rrtHKEY_CURRENT_USER);
    OptionsIni->SetWarningMessage(std::string(TElIniFile::DefaultWarning));
    ElFormPersist1 = new TElFormPersist(this);
    ElFormPersist1->setObjectName(QStringLiteral("ElFormPersist1"));
    ElFormPersist1->SetStorage(OptionsIni.get());
    ElFormPersist1->SetPersistOptions(TElFormPersist::epoState | TElFormPersist::epoPosition |
                                      TElFormPersist::epoProperties | TElFormPersist::epoSize);
    ElFormPersist1->SetTopMost(false);
    ElFormPersist1->SetFlipped(false);
    ElFormPersist1->SetPropsToStore(StoredProperties);
    ElFormPersist1->OnError = [this](const QString& message) { ShowError(message); };
    ElFormPersist1->Loaded();

    connect(FolderTree1, &TFolderTree::Change, this, &TFormMain::FolderTree1Change);
    connect(FileListBox, &TFileListBox::Change, this, &TFormMain::FileListBoxSelect);
    connect(EdPath, &QLineEdit::returnPressed, this, [this] {
        Guarded([this] {
            const QString typed = EdPath->text().trimmed();
            if (!typed.isEmpty() && !OpenPath(QDir::fromNativeSeparators(typed)) &&
                !QFileInfo::exists(typed))
                ShowFailure(QStringLiteral("Can not open: "), typed, ENOENT);
        });
    });

    // Keyboard: Ctrl+L the path field, Ctrl+S saves the tag of the page shown, F5 reads
    // the folder and the file again, Ctrl+1 to Ctrl+6 switch pages.
    const auto shortcut = [this](const QKeySequence& keys, auto slot) {
        auto* key = new QShortcut(keys, this);
        key->setContext(Qt::WindowShortcut);
        connect(key, &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_L), [this] {
        EdPath->setFocus(Qt::ShortcutFocusReason);
        EdPath->selectAll();
    });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_S), [this] { SaveShownPage(); });
    shortcut(QKeySequence(Qt::Key_F5), [this] { ReloadAll(); });
    for (int page = 0; page < PageControl->count(); ++page)
        shortcut(QKeySequence(Qt::CTRL | (Qt::Key_1 + page)),
                 [this, page] { PageControl->setCurrentIndex(page); });
    connect(btSAVE, &QToolButton::clicked, this, &TFormMain::btSAVEClick);
    connect(btREMOVEv1, &QToolButton::clicked, this, &TFormMain::btREMOVEv1Click);
    connect(SpeedButton8, &QToolButton::clicked, this, &TFormMain::SpeedButton8Click);
    connect(btREMOVEv2, &QToolButton::clicked, this, &TFormMain::btREMOVEv2Click);
    connect(btLyrCopy, &QToolButton::clicked, this, &TFormMain::btLyrCopyClick);
    connect(btLyrSaveAs, &QToolButton::clicked, this, &TFormMain::btLyrCopyClick);
    connect(LB_LINK, &QLabel::linkActivated, this, &TFormMain::LB_LINKClick);
}

namespace {

// The labelled rows shared by both tag pages.
struct TTagRows {
    QGridLayout* Grid;
    QWidget* Page;

    void Add(int row, const QString& caption, QWidget* field) {
        auto* label = new QLabel(caption, Page);
        label->setBuddy(field);
        Grid->addWidget(label, row, 0, Qt::AlignRight | Qt::AlignVCenter);
        Grid->addWidget(field, row, 1, Qt::AlignLeft);
    }

    // Rows 0 to 6, the same captions in the same order on both tag pages.
    void AddTagFields(QLabel* version, QLineEdit* title, QLineEdit* album, QLineEdit* artist,
                      QLineEdit* track, QLineEdit* year, QComboBox* genre) {
        Add(0, QStringLiteral("Tag version:"), version);
        Add(1, QStringLiteral("Title:"), title);
        Add(2, QStringLiteral("Album:"), album);
        Add(3, QStringLiteral("Artist:"), artist);
        Add(4, QStringLiteral("Track:"), track);
        Add(5, QStringLiteral("Year:"), year);
        Add(6, QStringLiteral("Genre:"), genre);
    }
};

QLabel* MakeVersionLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel(QStringLiteral("---"), parent);
    label->setObjectName(QLatin1String(name));
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QWidget* MakeButtonBar(QWidget* parent, const char* name, QToolButton*& save, const char* saveName,
                       const QString& saveCaption, QToolButton*& remove, const char* removeName,
                       const QString& removeCaption) {
    auto* bar = new QWidget(parent);
    bar->setObjectName(QLatin1String(name));
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 2, 0, 2);
    save = MakeButton(bar, saveName, saveCaption);
    save->setIcon(bar->style()->standardIcon(QStyle::SP_DialogSaveButton));
    save->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    remove = MakeButton(bar, removeName, removeCaption);
    remove->setIcon(bar->style()->standardIcon(QStyle::SP_TrashIcon));
    remove->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    layout->addWidget(save);
    layout->addWidget(remove);
    layout->addStretch(1);
    return bar;
}

// A tag page: its fields scroll in a small window, and the button bar the caller adds below
// them stays in view, so Save and Remove can be reached at any window size. The bar is made
// after the scroll area, which keeps it after the fields in the focus chain.
QVBoxLayout* LayOutTagPage(QWidget* page, QWidget* fields) {
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    auto* area = new QScrollArea(page);
    area->setWidget(fields);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    pageLayout->addWidget(area, 1);
    return pageLayout;
}

} // namespace

QWidget* TFormMain::BuildID3v1Page() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabID3v1"));
    auto* fields = new QWidget;
    auto* outer = new QVBoxLayout(fields);
    auto* grid = new QGridLayout;
    TTagRows rows{grid, fields};
    LB1INFO = MakeVersionLabel(fields, "LB1INFO");
    // Creation order matters: the pages are cleared edit box by edit box in this order.
    Ed1Title = MakeEdit(fields, "Ed1Title", 406);
    Ed1Album = MakeEdit(fields, "Ed1Album", 406);
    Ed1Artist = MakeEdit(fields, "Ed1Artist", 406);
    Ed1Track = MakeEdit(fields, "Ed1Track", 51);
    Ed1Year = MakeEdit(fields, "Ed1Year", 66);
    Ed1Comment = MakeEdit(fields, "Ed1Comment", 411);
    Ed1Genre = MakeGenreList(fields, "Ed1Genre");
    rows.AddTagFields(LB1INFO, Ed1Title, Ed1Album, Ed1Artist, Ed1Track, Ed1Year, Ed1Genre);
    rows.Add(7, QStringLiteral("Comment:"), Ed1Comment);
    Ed1Genre->setToolTip(QStringLiteral("Choose a genre, or type its name or number"));
    grid->setColumnStretch(1, 1);
    outer->addLayout(grid);
    outer->addStretch(1);
    LayOutTagPage(page, fields)
        ->addWidget(MakeButtonBar(page, "PanelBTN", btSAVE, "btSAVE", QStringLiteral("Save ID3v1"),
                                  btREMOVEv1, "btREMOVEv1", QStringLiteral("Remove ID3v1")));
    btSAVE->setToolTip(QStringLiteral("Write this page's fields as the file's ID3v1 tag (Ctrl+S)"));
    btREMOVEv1->setToolTip(QStringLiteral("Remove the ID3v1 tag from the file"));
    return page;
}

QWidget* TFormMain::BuildID3v2Page() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabID3v2"));
    auto* fields = new QWidget;
    auto* outer = new QVBoxLayout(fields);
    auto* grid = new QGridLayout;
    TTagRows rows{grid, fields};
    LB2INFO = MakeVersionLabel(fields, "LB2INFO");
    Ed2Track = MakeEdit(fields, "Ed2Track", 51);
    Ed2Artist = MakeEdit(fields, "Ed2Artist", 406);
    Ed2Album = MakeEdit(fields, "Ed2Album", 406);
    Ed2Title = MakeEdit(fields, "Ed2Title", 406);
    Ed2Year = MakeEdit(fields, "Ed2Year", 66);
    Ed2Genre = MakeGenreList(fields, "Ed2Genre");
    Ed2Comment = new QPlainTextEdit(fields);
    Ed2Comment->setObjectName(QStringLiteral("Ed2Comment"));
    Ed2Comment->setFixedHeight(61);
    rows.AddTagFields(LB2INFO, Ed2Title, Ed2Album, Ed2Artist, Ed2Track, Ed2Year, Ed2Genre);
    auto* commentLabel = new QLabel(QStringLiteral("Comment:"), fields);
    commentLabel->setBuddy(Ed2Comment);
    grid->addWidget(commentLabel, 7, 0, Qt::AlignRight | Qt::AlignTop);
    grid->addWidget(Ed2Comment, 7, 1);
    grid->setColumnStretch(1, 1);
    // The pictures stand beside the fields; a change to them is an edit like any other.
    auto* fieldsAndPictures = new QHBoxLayout;
    // The fields keep their rows together at the top, however tall the picture area is.
    auto* fieldColumn = new QVBoxLayout;
    fieldColumn->addLayout(grid);
    fieldColumn->addStretch(1);
    fieldsAndPictures->addLayout(fieldColumn, 1);
    Pictures = new TPictureBox(*Seam, fields);
    fieldsAndPictures->addWidget(Pictures, 0, Qt::AlignTop);
    outer->addLayout(fieldsAndPictures);
    outer->addStretch(1);
    LayOutTagPage(page, fields)
        ->addWidget(MakeButtonBar(page, "Panel4", SpeedButton8, "SpeedButton8",
                                  QStringLiteral("Save ID3v2"), btREMOVEv2, "btREMOVEv2",
                                  QStringLiteral("Remove ID3v2")));
    SpeedButton8->setToolTip(
        QStringLiteral("Write this page's fields and the lyrics as the file's ID3v2 tag (Ctrl+S)"));
    btREMOVEv2->setToolTip(QStringLiteral("Remove the ID3v2 tag from the file"));
    return page;
}

QWidget* TFormMain::BuildLyricsPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabILyrics"));
    auto* layout = new QHBoxLayout(page);
    layout->setContentsMargins(2, 2, 2, 2);
    auto* strip = new QWidget(page);
    strip->setObjectName(QStringLiteral("Panel2"));
    strip->setFixedWidth(41);
    auto* stripLayout = new QVBoxLayout(strip);
    stripLayout->setContentsMargins(2, 2, 2, 2);
    const auto addButton = [&](const char* name, int tag, const QString& hint,
                               QStyle::StandardPixmap icon, bool visible) {
        auto* button = MakeButton(strip, name, QString());
        button->setProperty("tag", tag);
        button->setToolTip(hint);
        button->setIcon(strip->style()->standardIcon(icon));
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        button->setVisible(visible);
        stripLayout->addWidget(button);
        return button;
    };
    btLyrCopy =
        addButton("btLyrCopy", 1, QStringLiteral("Copy"), QStyle::SP_FileDialogContentsView, true);
    btLyrSaveAs = addButton("btLyrSaveAs", 2, QStringLiteral("Save to file"),
                            QStyle::SP_DialogSaveButton, true);
    // Commands the strip has room for but that are not offered.
    addButton("btLyrClear", 0, QStringLiteral("Clear"), QStyle::SP_DialogResetButton, false);
    addButton("btLyrCut", 0, QStringLiteral("Cut"), QStyle::SP_DialogDiscardButton, false);
    addButton("btLyrPaste", 0, QStringLiteral("Paste"), QStyle::SP_DialogApplyButton, false);
    addButton("btLyrLoad", 0, QStringLiteral("Load from file"), QStyle::SP_DialogOpenButton, false);
    stripLayout->addStretch(1);
    layout->addWidget(strip);

    Ed2Lyrics = new QPlainTextEdit(page);
    Ed2Lyrics->setObjectName(QStringLiteral("Ed2Lyrics"));
    Ed2Lyrics->setFont(QFont(QStringLiteral("Courier New"), 10));
    Ed2Lyrics->setLineWrapMode(QPlainTextEdit::NoWrap);
    Ed2Lyrics->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Ed2Lyrics->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(Ed2Lyrics, 1);
    return page;
}

QWidget* TFormMain::BuildMpegPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabMPEG"));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(2, 2, 2, 2);
    MemoInfo = new QPlainTextEdit(QStringLiteral("MemoInfo"), page);
    MemoInfo->setObjectName(QStringLiteral("MemoInfo"));
    MemoInfo->setFont(QFont(QStringLiteral("Courier New"), 10));
    MemoInfo->setReadOnly(true);
    QPalette palette = MemoInfo->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    MemoInfo->setPalette(palette);
    layout->addWidget(MemoInfo);
    return page;
}

QWidget* TFormMain::BuildAboutPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabAbout"));
    auto* layout = new QVBoxLayout(page);
    auto* panel = new QWidget(page);
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, QColor(245, 255, 240));
    palette.setColor(QPalette::WindowText, Qt::black);
    panel->setPalette(palette);
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setAlignment(Qt::AlignCenter);

    LB_PNM = new QLabel(QStringLiteral("Tag Cantorell"), panel);
    LB_PNM->setObjectName(QStringLiteral("LB_PNM"));
    // Impact where it is installed; elsewhere a bold sans-serif, because the font matcher
    // may otherwise answer a missing family with a symbol font.
    QFont nameFont(QStringLiteral("Impact"), 18);
    if (!QFontDatabase::hasFamily(QStringLiteral("Impact"))) {
        nameFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        nameFont.setStyleHint(QFont::SansSerif);
        nameFont.setPointSize(18);
        nameFont.setBold(true);
    }
    LB_PNM->setFont(nameFont);
    LB_PNM->setStyleSheet(QStringLiteral("color: rgb(210, 0, 5);"));
    LB_PNM->setAlignment(Qt::AlignCenter);

    LB_VER = new QLabel(VersionLine(), panel);
    LB_VER->setObjectName(QStringLiteral("LB_VER"));
    QFont bold = LB_VER->font();
    bold.setBold(true);
    LB_VER->setFont(bold);
    LB_VER->setAlignment(Qt::AlignCenter);

    LB_LINK = MakeLinkLabel(panel, "LB_LINK", ProductPageAddress().toDisplayString());
    LB_LINK->setFont(bold);
    LB_LINK->setAlignment(Qt::AlignCenter);
    // The installed README's path is as long as the prefix it lives under; it must not set
    // the window's smallest width. A narrow window shows the middle of the path; the tooltip
    // and the link still carry all of it.
    LB_LINK->setMinimumWidth(1);
    LB_LINK->setToolTip(ProductPageAddress().toDisplayString());

    panelLayout->addWidget(LB_PNM);
    panelLayout->addWidget(LB_VER);
    panelLayout->addWidget(LB_LINK);
    layout->addWidget(panel);
    return page;
}

QWidget* TFormMain::BuildOurSoftwarePage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet1"));
    auto* layout = new QVBoxLayout(page);
    const QString readme = ProductPageAddress().toString();
    const auto addProduct = [&](const char* name, const QString& title, const QString& text) {
        auto* link = MakeLinkLabel(page, name, title);
        link->setToolTip(readme);
        connect(link, &QLabel::linkActivated, this, &TFormMain::lbDemoClick);
        auto* description = new QLabel(text, page);
        description->setWordWrap(true);
        layout->addWidget(link);
        layout->addWidget(description);
    };
    addProduct("lbDemoWindow", QStringLiteral("Tag Cantorell"),
               QStringLiteral("This window: browse folders, pick an MP3 file and see its ID3v1 "
                              "and ID3v2 tags, its lyrics and a summary of its audio stream; "
                              "edit, save and remove either tag, copy or export the lyrics."));
    addProduct("lbDemoCli", QStringLiteral("tagcantorell-cli"),
               QStringLiteral("The same from a terminal, for scripts and batch work: "
                              "'tagcantorell-cli show --json FILE...' prints what this window "
                              "shows, 'set-v1', 'set-v2', 'remove-v1' and 'remove-v2' edit the "
                              "tags."));
    layout->addStretch(1);
    return page;
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
// Selection and display

void TFormMain::FolderTree1Change() {
    if (SelectingFolder)
        return;
    Guarded([this] {
        const QString folder = FromNativePath(FolderTree1->GetSelectedPath());
        // The tree also reports a selection it merely kept while folders came and went
        // around it; only a new folder is listed again.
        if (folder == FileListBox->Directory())
            return;
        if (!ConfirmLeave()) {
            // Back to the folder that is listed; that report changes nothing.
            ShowFolder(FileListBox->Directory());
            return;
        }
        FileListBox->SetDirectory(folder);
    });
}

void TFormMain::ShowFolder(const QString& folder) {
    QTreeWidgetItem* node = nullptr;
    if (!folder.isEmpty()) {
        node = FolderTree1->FindNodeByPath(NativePath(folder));
        const TFolderNode* entry = TFolderTree::NodeData(node);
        if (!entry || FromNativePath(entry->Path) != folder)
            node = nullptr; // a hidden folder, or one outside the tree's volumes
    }
    {
        const QSignalBlocker blocker(FolderTree1);
        SelectingFolder = true;
        if (node) {
            for (QTreeWidgetItem* up = node->parent(); up; up = up->parent())
                up->setExpanded(true);
            FolderTree1->setCurrentItem(node);
            FolderTree1->scrollToItem(node);
        } else {
            FolderTree1->clearSelection();
        }
        SelectingFolder = false;
    }
    if (folder != FileListBox->Directory())
        FileListBox->SetDirectory(folder);
}

bool TFormMain::OpenPath(const QString& path) {
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    const bool isFolder = info.isDir();
    const QString folder =
        QDir::cleanPath(isFolder ? info.absoluteFilePath() : info.absolutePath());
    if (folder != FileListBox->Directory() && !ConfirmLeave())
        return false;
    ShowFolder(folder);
    if (isFolder)
        return true;
    if (!FileListBox->SelectFile(info.fileName()))
        return false;
    return ShownPath == QDir(folder).filePath(info.fileName());
}

void TFormMain::FileListBoxSelect() {
    Guarded([this] {
        const QString path = FileListBox->FileName();
        if (!path.isEmpty() && path == ShownPath)
            return;
        if (!ConfirmLeave()) {
            // The user stays with the shown file: its row is selected again.
            const QSignalBlocker blocker(FileListBox);
            FileListBox->clearSelection();
            if (!ShownPath.isEmpty())
                FileListBox->SelectFile(QFileInfo(ShownPath).fileName());
            return;
        }
        FileListBoxChange();
    });
}

void TFormMain::FileListBoxChange() {
    Guarded([this] {
        ClearFields();
        ShownPath.clear();
        ID3v1Exists = ID3v2Exists = false;
        const QString path = FileListBox->FileName();
        const QFileInfo file(path);
        if (path.isEmpty() || !file.isFile()) {
            UpdateCommands();
            return;
        }
        ShownPath = path;
        Panel1->setText(file.fileName());
        // The three readers take the same file one after another: open it once for all.
        const TReadPin pin(TFileSystem::Default(), NativePath(path));
        ShowStreamInfo(path);
        ShowID3v2(path);
        ShowID3v1(path);
        UpdateCommands();
    });
}

void TFormMain::ClearID3v1Page() {
    for (QLineEdit* edit : {Ed1Title, Ed1Album, Ed1Artist, Ed1Track, Ed1Year, Ed1Comment}) {
        edit->clear();
        edit->setReadOnly(false);
    }
    Ed1Genre->setCurrentIndex(0);
    ID3v1Loaded = ID3v1Fields();
}

void TFormMain::ClearID3v2Page() {
    for (QLineEdit* edit : {Ed2Track, Ed2Artist, Ed2Album, Ed2Title, Ed2Year}) {
        edit->clear();
        edit->setReadOnly(false);
    }
    Ed2Comment->clear();
    Ed2Lyrics->clear();
    Ed2Genre->setCurrentIndex(0);
    Ed2Comment->setReadOnly(false);
    Ed2Lyrics->setReadOnly(false);
    Pictures->Clear();
    ID3v2Loaded = ID3v2Fields();
}

void TFormMain::ClearFields() {
    ClearID3v1Page();
    ClearID3v2Page();
    MemoInfo->clear();
    Panel1->setText(QStringLiteral("File name: "));
}

QStringList TFormMain::ID3v1Fields() const {
    return {Ed1Title->text(), Ed1Album->text(),   Ed1Artist->text(),      Ed1Track->text(),
            Ed1Year->text(),  Ed1Comment->text(), Ed1Genre->currentText()};
}

QStringList TFormMain::ID3v2Fields() const {
    return {Ed2Title->text(),          Ed2Album->text(),        Ed2Artist->text(),
            Ed2Track->text(),          Ed2Year->text(),         Ed2Genre->currentText(),
            Ed2Comment->toPlainText(), Ed2Lyrics->toPlainText()};
}

bool TFormMain::ID3v2Edited() const {
    return ID3v2Fields() != ID3v2Loaded || Pictures->Changed();
}

bool TFormMain::HasUnsavedChanges() const {
    return !ShownPath.isEmpty() && (ID3v1Fields() != ID3v1Loaded || ID3v2Edited());
}

bool TFormMain::ConfirmLeave() {
    if (!HasUnsavedChanges())
        return true;
    switch (Seam->AskSaveChanges(this, SaveChangesQuestion(ShownPath))) {
    case TSaveAnswer::saCancel:
        return false;
    case TSaveAnswer::saDiscard:
        ID3v1Loaded = ID3v1Fields();
        ID3v2Loaded = ID3v2Fields();
        Pictures->Clear();
        return true;
    case TSaveAnswer::saSave:
        break;
    }
    // Both pages are written before anything is read again, so neither page's edits are
    // lost to the other's refresh.
    const QString path = ShownPath;
    const bool v2 = ID3v2Edited();
    const bool v1 = ID3v1Fields() != ID3v1Loaded;
    if (v2 && !SaveID3v2(path))
        return false;
    // The ID3v1 object learns the file as the ID3v2 save left it, so its own save is not
    // taken for one over another program's change.
    if (v1 && ((v2 && !TagV1->ReadFromFile(NativePath(path))) || !SaveID3v1(path)))
        return false;
    ID3v1Loaded = ID3v1Fields();
    ID3v2Loaded = ID3v2Fields();
    return true;
}

void TFormMain::UpdateCommands() {
    const bool shown = !ShownPath.isEmpty();
    btSAVE->setEnabled(shown);
    SpeedButton8->setEnabled(shown);
    btREMOVEv1->setEnabled(shown && ID3v1Exists);
    btREMOVEv2->setEnabled(shown && ID3v2Exists);
}

void TFormMain::ShowID3v2(const QString& path) {
    ID3v2Exists = false;
    if (TagV2->ReadFromFile(NativePath(path))) {
        ID3v2Exists = TagV2->Exists;
        if (!TagV2->Exists) {
            LB2INFO->setText(TagNotFound);
        } else {
            LB2INFO->setText(QStringLiteral("2.") + QString::number(TagV2->VersionID));
            Ed2Title->setText(FromUtf8(TagV2->Title));
            Ed2Album->setText(FromUtf8(TagV2->Album));
            Ed2Artist->setText(FromUtf8(TagV2->Artist));
            Ed2Track->setText(FromUtf8(TagV2->Track));
            Ed2Year->setText(FromUtf8(TagV2->Year));
            Ed2Genre->setEditText(FromUtf8(TagV2->Genre));
            Ed2Comment->setPlainText(FromUtf8(TagV2->GetComment(TagV2->MainCommentIndex())));
            Ed2Lyrics->setPlainText(FromUtf8(TagV2->GetLyrics(0)));
        }
        Pictures->ShowTag(*TagV2, path);
    }
    ID3v2Loaded = ID3v2Fields();
}

void TFormMain::ShowID3v1(const QString& path) {
    ID3v1Exists = false;
    if (TagV1->ReadFromFile(NativePath(path))) {
        ID3v1Exists = TagV1->Exists();
        if (!TagV1->Exists()) {
            LB1INFO->setText(TagNotFound);
        } else {
            LB1INFO->setText(QStringLiteral("1.") + QString::number(TagV1->VersionID() - 1));
            Ed1Title->setText(FromLatin1(TagV1->Title()));
            Ed1Album->setText(FromLatin1(TagV1->Album()));
            Ed1Artist->setText(FromLatin1(TagV1->Artist()));
            Ed1Track->setText(QString::number(TagV1->Track()));
            Ed1Year->setText(FromLatin1(TagV1->Year()));
            // The genre's own item is selected, so that saving an edited title keeps the
            // genre.
            const int genre = TagV1->GenreID();
            Ed1Genre->setCurrentIndex(genre < GenreCount ? genre + 1 : 0);
            Ed1Comment->setText(FromLatin1(TagV1->Comment()));
        }
    }
    ID3v1Loaded = ID3v1Fields();
}

void TFormMain::ShowStreamInfo(const QString& path) {
    errno = 0;
    if (!MpegAudio->ReadFromFile(NativePath(path))) {
        ShowFailure(MsgCanNotRead, path, errno);
        return;
    }
    // Without an audio frame the analyser reports no size; the page still tells the real
    // one, and that no audio was found.
    const QStringList lines = StreamLines(*MpegAudio, QFileInfo(path).size());
    for (const QString& line : lines)
        MemoInfo->appendPlainText(line);
}

void TFormMain::ReloadAll() {
    Guarded([this] {
        if (!ConfirmLeave())
            return;
        ID3v1Loaded = ID3v1Fields();
        ID3v2Loaded = ID3v2Fields();
        FileListBox->Refresh();
        FileListBoxChange();
    });
}

// ---------------------------------------------------------------------------------------
// Tag commands

void TFormMain::btSAVEClick() {
    Guarded([this] {
        if (SaveID3v1(ShownPath))
            ReloadPage(fpID3v1);
    });
}

void TFormMain::SpeedButton8Click() {
    Guarded([this] {
        if (SaveID3v2(ShownPath))
            ReloadPage(fpID3v2);
    });
}

void TFormMain::SaveShownPage() {
    if (ShownPath.isEmpty())
        return;
    // The lyrics are part of the ID3v2 tag.
    const int page = PageControl->currentIndex();
    if (page == fpID3v1)
        btSAVEClick();
    else if (page == fpID3v2 || page == fpLyrics)
        SpeedButton8Click();
}

void TFormMain::ReloadPage(TFormPage page) {
    const QString path = ShownPath;
    if (path.isEmpty())
        return;
    const TReadPin pin(TFileSystem::Default(), NativePath(path));
    MemoInfo->clear();
    ShowStreamInfo(path);
    // The other tag's object reads the file again too, without touching its page: it then
    // knows the file as it is now, so saving that page's edits next is not taken for a
    // save over another program's change.
    if (page == fpID3v1) {
        ClearID3v1Page();
        ShowID3v1(path);
        TagV2->ReadFromFile(NativePath(path));
    } else {
        ClearID3v2Page();
        ShowID3v2(path);
        const bool existed = ID3v1Exists;
        ID3v1Exists = TagV1->ReadFromFile(NativePath(path)) ? TagV1->Exists() : existed;
    }
    UpdateCommands();
}

bool TFormMain::SaveID3v1(const QString& path) {
    TagV1->SetTitle(ToLatin1Field(Ed1Title->text()));
    TagV1->SetAlbum(ToLatin1Field(Ed1Album->text()));
    TagV1->SetArtist(ToLatin1Field(Ed1Artist->text()));
    TagV1->SetYear(ToLatin1Field(Ed1Year->text()));
    TagV1->SetComment(ToLatin1Field(Ed1Comment->text()));
    TagV1->SetTrack(ParseTrack(Ed1Track->text()));

    // The selected item names the genre while its text is shown; a text the user typed
    // names a genre by its name or number, and no genre otherwise.
    uint8_t genre = TID3v1::NoGenre;
    const QString shown = Ed1Genre->currentText();
    const int index = Ed1Genre->currentIndex();
    if (index > 0 && Ed1Genre->itemText(index) == shown)
        genre = static_cast<uint8_t>(index - 1);
    else if (!ParseGenre(shown, genre))
        genre = TID3v1::NoGenre;
    TagV1->SetGenreID(genre);

    errno = 0;
    if (!TagV1->SaveToFile(NativePath(path))) {
        const int error = errno;
        ShowFailure(MsgCanNotSaveV1, path, error, TagV1->FailureNote());
        return false;
    }
    return true;
}

bool TFormMain::SaveID3v2(const QString& path) {
    TagV2->Title = ToUtf8(Ed2Title->text());
    TagV2->Album = ToUtf8(Ed2Album->text());
    TagV2->Artist = ToUtf8(Ed2Artist->text());
    TagV2->Track = ToUtf8(Ed2Track->text());
    TagV2->Year = ToUtf8(Ed2Year->text());
    TagV2->Genre = ToUtf8(Ed2Genre->currentText());
    // A memo the user left as it was shown passes nothing on, so the frame is kept as read
    // even when its line ends are not the CR LF that a memo gives back.
    const int comment = TagV2->MainCommentIndex();
    if (MemoEdited(Ed2Comment, TagV2->GetComment(comment)))
        TagV2->SetComment(ToUtf8(MemoText(Ed2Comment)), comment);
    if (MemoEdited(Ed2Lyrics, TagV2->GetLyrics(0)))
        TagV2->SetLyrics(ToUtf8(MemoText(Ed2Lyrics)), 0);
    Pictures->ApplyTo(*TagV2);
    errno = 0;
    if (!TagV2->SaveToFile(NativePath(path))) {
        ShowFailure(MsgCanNotSaveV2, path, errno, TagV2->FailureNote());
        return false;
    }
    return true;
}

void TFormMain::btREMOVEv1Click() {
    RemoveTag(
        [this](const std::string& file) {
            const bool removed = TagV1->RemoveFromFile(file);
            RemoveNote = TagV1->FailureNote();
            return removed;
        },
        MsgCanNotRemoveV1, fpID3v1);
}

void TFormMain::btREMOVEv2Click() {
    RemoveTag([this](const std::string& file) { return TagV2->RemoveFromFile(file); },
              MsgCanNotRemoveV2, fpID3v2);
}

// After a removal the stream summary and the removed tag's page are read again; the other
// page keeps what the user typed. After a failure nothing is re-read.
void TFormMain::RemoveTag(const std::function<bool(const std::string&)>& remove,
                          const QString& failure, TFormPage page) {
    Guarded([&] {
        const QString path = ShownPath;
        errno = 0;
        RemoveNote.clear();
        if (!remove(NativePath(path))) {
            const int error = errno;
            ShowFailure(failure, path, error, RemoveNote);
            return;
        }
        ReloadPage(page);
    });
}

// ---------------------------------------------------------------------------------------
// Lyrics

QString TFormMain::MemoText(const QPlainTextEdit* memo) {
    // No CR LF after the last line: a text read from a tag comes back as it was, and one
    // that ended with a line break shows an empty last line that restores it.
    if (memo->document()->isEmpty())
        return {};
    return memo->toPlainText().split(QLatin1Char('\n')).join(QStringLiteral("\r\n"));
}

bool TFormMain::MemoEdited(const QPlainTextEdit* memo, const std::string& shown) {
    QTextDocument document;
    document.setPlainText(FromUtf8(shown));
    return memo->toPlainText() != document.toPlainText();
}

void TFormMain::btLyrCopyClick() {
    const QObject* button = sender();
    const int tag = button ? button->property("tag").toInt() : 0;
    Guarded([this, tag] {
        if (tag == 1) {
            Ed2Lyrics->selectAll();
            Seam->CopyToClipboard(Ed2Lyrics->toPlainText());
        } else if (tag == 2) {
            SaveLyricsToFile();
        }
    });
}

void TFormMain::SaveLyricsToFile() {
    const QString proposed =
        TrimControl(Ed2Artist->text() + QStringLiteral(" - ") + Ed2Title->text());
    QString chosen;
    if (!Seam->RunSaveDialog(this, proposed, chosen))
        return;
    // Written to a temporary file and renamed over the target, so a failed write never
    // leaves a half-written lyrics file in place of an old one.
    QSaveFile file(chosen);
    QString text = MemoText(Ed2Lyrics);
    if (!text.isEmpty() && !text.endsWith(QStringLiteral("\r\n")))
        text += QStringLiteral("\r\n"); // every line of the file ends with CR LF
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit())
        throw std::runtime_error(QStringLiteral("Cannot create file \"%1\". %2")
                                     .arg(QDir::toNativeSeparators(chosen), file.errorString())
                                     .toStdString());
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

template <typename F> void TFormMain::Guarded(F handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowError(QString::fromUtf8(error.what()));
    } catch (...) {
        ShowError(QStringLiteral("An unexpected error occurred."));
    }
}

} // namespace cantorell
