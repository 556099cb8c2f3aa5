// The main window's layout: the explorer above, the pages below, the keys and the
// connections, and the form-persistence component that keeps the pane sizes.
#include "app/main.h"

#include "app/Common.h"
#include "app/FileListBox.h"
#include "app/FormWidgets.h"
#include "app/PictureBox.h"
#include "app/SplitGroupBox.h"
#include "browse/FolderTree.h"
#include "settings/ElFrmPers.h"
#include "settings/ElIni.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <cerrno>
#include <initializer_list>
#include <utility>

namespace cantorell {

namespace {

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

QLineEdit* MakeEdit(QWidget* parent, const char* name, int width = 0) {
    auto* edit = MakeNamed<QLineEdit>(name, parent);
    if (width > 0)
        edit->setFixedWidth(width);
    return edit;
}

QComboBox* MakeGenreList(QWidget* parent, const char* name) {
    auto* list = MakeNamed<QComboBox>(name, parent);
    list->setEditable(true);
    // Typed texts stay texts: they are never added to the list as new items.
    list->setInsertPolicy(QComboBox::NoInsert);
    list->setMaxVisibleItems(20);
    list->setFixedWidth(160);
    return list;
}

QToolButton* MakeButton(QWidget* parent, const char* name, const QString& caption,
                        const QString& tip = QString()) {
    auto* button = MakeNamed<QToolButton>(name, parent);
    button->setToolTip(tip.isEmpty() ? caption : tip);
    button->setText(caption);
    button->setAutoRaise(true); // a flat button, raised under the mouse
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return button;
}

QSplitter* MakeSplitter(Qt::Orientation orientation, QWidget* parent, const char* name) {
    auto* splitter = MakeNamed<QSplitter>(name, orientation, parent);
    splitter->setHandleWidth(3);
    splitter->setChildrenCollapsible(false);
    return splitter;
}

// The strip above the pages that names the shown file: light bold text on a dark panel.
QLabel* MakeFilePanel(QWidget* parent) {
    auto* panel = MakeNamed<QLabel>("Panel1", QStringLiteral("PanelInfo"), parent);
    panel->setFixedHeight(21);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setLineWidth(2);
    panel->setAutoFillBackground(true);
    QFont font(QStringLiteral("Verdana"), 8);
    font.setBold(true);
    panel->setFont(font);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Dark));
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Base));
    panel->setPalette(palette);
    panel->setTextFormat(Qt::PlainText);
    return panel;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Layout

// The widgets are made in the order the focus moves through them: the path field, the
// tree, the list, then the pages.
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
    Splitter2 = MakeSplitter(Qt::Vertical, central, "Splitter2");
    centralLayout->addWidget(Splitter2);
    BuildExplorer(firstSize.width());
    BuildEditor();
    Splitter2->setStretchFactor(1, 1);
    Splitter2->setSizes({firstSize.height() * 45 / 100, firstSize.height() * 55 / 100});
    setCentralWidget(central);

    StatusBar1 = MakeNamed<QStatusBar>("StatusBar1", this);
    setStatusBar(StatusBar1);

    BuildPersistence();
    ConnectCommands();
}

void TFormMain::BuildExplorer(int width) {
    GroupBoxExplorer =
        MakeNamed<TSplitGroupBox>("GroupBoxExplorer", QStringLiteral("Explorer"), Splitter2);
    auto* explorerLayout = new QVBoxLayout(GroupBoxExplorer);
    explorerLayout->setContentsMargins(4, 4, 4, 4);
    explorerLayout->setSpacing(3);
    EdPath = MakeNamed<QLineEdit>("EdPath", GroupBoxExplorer);
    EdPath->setPlaceholderText(QStringLiteral("Type or paste a folder or file, then press Enter"));
    EdPath->setToolTip(QStringLiteral("Open a folder or file by its path (Ctrl+L)"));
    EdPath->setClearButtonEnabled(true);
    explorerLayout->addWidget(EdPath);
    Splitter1 = MakeSplitter(Qt::Horizontal, GroupBoxExplorer, "Splitter1");
    explorerLayout->addWidget(Splitter1);

    FolderTree1 = MakeNamed<TFolderTree>("FolderTree1", Splitter1);
    FolderTree1->SetActive(true);
    FileListBox = MakeNamed<TFileListBox>("FileListBox", Splitter1);
    FileListBox->setFont(QFont(QStringLiteral("Verdana"), 8));
    FileListBox->SetMask(FileMask);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({width * 2 / 5, width * 3 / 5});
}

void TFormMain::BuildEditor() {
    GroupBoxEditor =
        MakeNamed<QGroupBox>("GroupBoxEditor", QStringLiteral("Tag Information"), Splitter2);
    auto* editorLayout = new QVBoxLayout(GroupBoxEditor);
    editorLayout->setContentsMargins(4, 4, 4, 4);
    Panel1 = MakeFilePanel(GroupBoxEditor);
    editorLayout->addWidget(Panel1);

    PageControl = MakeNamed<QTabWidget>("PageControl", GroupBoxEditor);
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
}

// The options store and the form-persistence component, as the layout sets them up.
void TFormMain::BuildPersistence() {
    OptionsIni = std::make_unique<TElIniFile>();
    OptionsIni->SetBinaryMode(false);
    OptionsIni->SetComment(";");
    OptionsIni->SetDelimiter('\\');
    OptionsIni->SetRegRoot(rrtHKEY_CURRENT_USER);
    OptionsIni->SetWarningMessage(std::string(TElIniFile::DefaultWarning));
    ElFormPersist1 = MakeNamed<TElFormPersist>("ElFormPersist1", this);
    ElFormPersist1->SetStorage(OptionsIni.get());
    ElFormPersist1->SetPersistOptions(TElFormPersist::epoState | TElFormPersist::epoPosition |
                                      TElFormPersist::epoProperties | TElFormPersist::epoSize);
    ElFormPersist1->SetTopMost(false);
    ElFormPersist1->SetFlipped(false);
    ElFormPersist1->SetPropsToStore(StoredProperties);
    ElFormPersist1->OnError = [this](const QString& message) { ShowError(message); };
    ElFormPersist1->Loaded();
}

void TFormMain::ConnectCommands() {
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

// A button of a tag page's bar: the member it is kept in, its name, caption and tip.
struct TBarButton {
    QToolButton*& Button;
    const char* Name;
    QString Caption;
    QString Tip;
};

QWidget* MakeButtonBar(QWidget* parent, const char* name, const TBarButton& save,
                       const TBarButton& remove) {
    auto* bar = MakeNamed<QWidget>(name, parent);
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 2, 0, 2);
    const std::pair<const TBarButton*, QStyle::StandardPixmap> buttons[] = {
        {&save, QStyle::SP_DialogSaveButton}, {&remove, QStyle::SP_TrashIcon}};
    for (const auto& [button, icon] : buttons) {
        button->Button = MakeButton(bar, button->Name, button->Caption, button->Tip);
        button->Button->setIcon(bar->style()->standardIcon(icon));
        button->Button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    }
    layout->addWidget(save.Button);
    layout->addWidget(remove.Button);
    layout->addStretch(1);
    return bar;
}

// A tag page being built: the page, the widget of its fields and the grid of their
// labelled rows, the same captions in the same order on both tag pages.
struct TTagPage {
    QWidget* Page;
    QWidget* Fields;
    QGridLayout* Grid;

    explicit TTagPage(const char* name)
        : Page(MakeNamed<QWidget>(name)), Fields(new QWidget), Grid(new QGridLayout) {
        Grid->setColumnStretch(1, 1);
    }

    void Add(int row, const QString& caption, QWidget* field,
             Qt::Alignment labelAlignment = Qt::AlignVCenter,
             Qt::Alignment fieldAlignment = Qt::AlignLeft) {
        auto* label = new QLabel(caption, Fields);
        label->setBuddy(field);
        Grid->addWidget(label, row, 0, Qt::AlignRight | labelAlignment);
        Grid->addWidget(field, row, 1, fieldAlignment);
    }

    // Rows 0 to 6; each page adds its comment as row 7. Makes the page's version label
    // and, after the edit boxes (the focus chain follows creation), its genre list.
    void AddTagFields(QLabel*& version, const char* versionName, QLineEdit* title, QLineEdit* album,
                      QLineEdit* artist, QLineEdit* track, QLineEdit* year, QComboBox*& genre,
                      const char* genreName) {
        version = MakeBoldLabel(Fields, versionName, QStringLiteral("---"));
        genre = MakeGenreList(Fields, genreName);
        Add(0, QStringLiteral("Tag version:"), version);
        Add(1, QStringLiteral("Title:"), title);
        Add(2, QStringLiteral("Album:"), album);
        Add(3, QStringLiteral("Artist:"), artist);
        Add(4, QStringLiteral("Track:"), track);
        Add(5, QStringLiteral("Year:"), year);
        Add(6, QStringLiteral("Genre:"), genre);
    }

    // The fields (`body` above a stretch) scroll in a small window, and the button bar
    // below them stays in view, so Save and Remove can be reached at any window size. The
    // bar is made after the scroll area, which keeps it after the fields in the focus
    // chain.
    QWidget* Finish(QLayout* body, const char* barName, const TBarButton& save,
                    const TBarButton& remove) {
        auto* outer = new QVBoxLayout(Fields);
        outer->addLayout(body);
        outer->addStretch(1);
        auto* pageLayout = new QVBoxLayout(Page);
        pageLayout->setContentsMargins(0, 0, 0, 0);
        auto* area = new QScrollArea(Page);
        area->setWidget(Fields);
        area->setWidgetResizable(true);
        area->setFrameShape(QFrame::NoFrame);
        pageLayout->addWidget(area, 1);
        pageLayout->addWidget(MakeButtonBar(Page, barName, save, remove));
        return Page;
    }
};

} // namespace

void TFormMain::MakeTagEdits(QWidget* fields, int page) {
    // The edit boxes of both tag pages: the page, the member a box is kept in, its name and
    // its width. A page's boxes are made in this order, which is the order the focus moves
    // through them and the order the page is cleared in, edit box by edit box.
    struct TEditBox {
        int Page;
        QLineEdit* TFormMain::*Edit;
        const char* Name;
        int Width;
    };
    static const TEditBox boxes[] = {
        {1, &TFormMain::Ed1Title, "Ed1Title", 406},
        {1, &TFormMain::Ed1Album, "Ed1Album", 406},
        {1, &TFormMain::Ed1Artist, "Ed1Artist", 406},
        {1, &TFormMain::Ed1Track, "Ed1Track", 51},
        {1, &TFormMain::Ed1Year, "Ed1Year", 66},
        {1, &TFormMain::Ed1Comment, "Ed1Comment", 411},
        {2, &TFormMain::Ed2Track, "Ed2Track", 51},
        {2, &TFormMain::Ed2Artist, "Ed2Artist", 406},
        {2, &TFormMain::Ed2Album, "Ed2Album", 406},
        {2, &TFormMain::Ed2Title, "Ed2Title", 406},
        {2, &TFormMain::Ed2Year, "Ed2Year", 66},
    };
    for (const TEditBox& box : boxes) {
        if (box.Page == page)
            this->*box.Edit = MakeEdit(fields, box.Name, box.Width);
    }
}

QWidget* TFormMain::BuildID3v1Page() {
    TTagPage tab("TabID3v1");
    MakeTagEdits(tab.Fields, 1);
    tab.AddTagFields(LB1INFO, "LB1INFO", Ed1Title, Ed1Album, Ed1Artist, Ed1Track, Ed1Year, Ed1Genre,
                     "Ed1Genre");
    tab.Add(7, QStringLiteral("Comment:"), Ed1Comment);
    Ed1Genre->setToolTip(QStringLiteral("Choose a genre, or type its name or number"));
    return tab.Finish(tab.Grid, "PanelBTN",
                      {btSAVE, "btSAVE", QStringLiteral("Save ID3v1"),
                       QStringLiteral("Write this page's fields as the file's ID3v1 tag (Ctrl+S)")},
                      {btREMOVEv1, "btREMOVEv1", QStringLiteral("Remove ID3v1"),
                       QStringLiteral("Remove the ID3v1 tag from the file")});
}

QWidget* TFormMain::BuildID3v2Page() {
    TTagPage tab("TabID3v2");
    QWidget* fields = tab.Fields;
    MakeTagEdits(fields, 2);
    tab.AddTagFields(LB2INFO, "LB2INFO", Ed2Title, Ed2Album, Ed2Artist, Ed2Track, Ed2Year, Ed2Genre,
                     "Ed2Genre");
    Ed2Comment = MakeNamed<QPlainTextEdit>("Ed2Comment", fields);
    Ed2Comment->setFixedHeight(61);
    tab.Add(7, QStringLiteral("Comment:"), Ed2Comment, Qt::AlignTop, Qt::Alignment());
    // The pictures stand beside the fields; a change to them is an edit like any other.
    auto* fieldsAndPictures = new QHBoxLayout;
    // The fields keep their rows together at the top, however tall the picture area is.
    auto* fieldColumn = new QVBoxLayout;
    fieldColumn->addLayout(tab.Grid);
    fieldColumn->addStretch(1);
    fieldsAndPictures->addLayout(fieldColumn, 1);
    Pictures = new TPictureBox(*Seam, fields);
    fieldsAndPictures->addWidget(Pictures, 0, Qt::AlignTop);
    return tab.Finish(
        fieldsAndPictures, "Panel4",
        {SpeedButton8, "SpeedButton8", QStringLiteral("Save ID3v2"),
         QStringLiteral("Write this page's fields and the lyrics as the file's ID3v2 tag "
                        "(Ctrl+S)")},
        {btREMOVEv2, "btREMOVEv2", QStringLiteral("Remove ID3v2"),
         QStringLiteral("Remove the ID3v2 tag from the file")});
}

} // namespace cantorell
