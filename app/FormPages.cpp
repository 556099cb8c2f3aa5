// The main window's pages besides the two tag pages: the lyrics with their buttons, the
// stream summary, the About page and the page about the command-line tool.
#include "app/main.h"

#include "app/Common.h"
#include "app/FormWidgets.h"

#include <QFont>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace cantorell {

namespace {

QLabel* MakeLinkLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = MakeNamed<QLabel>(name, parent);
    label->setText(
        QStringLiteral("<a href=\"#\" style=\"color:#0000ff\">%1</a>").arg(text.toHtmlEscaped()));
    label->setTextFormat(Qt::RichText);
    label->setCursor(Qt::PointingHandCursor);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    return label;
}

// A page of the page control, named `name`, and the layout set on it.
template <typename TLayout> struct TPage {
    QWidget* Widget;
    TLayout* Layout;
};

template <typename TLayout> TPage<TLayout> MakePage(const char* name) {
    auto* page = MakeNamed<QWidget>(name);
    return {page, new TLayout(page)};
}

} // namespace

QWidget* TFormMain::BuildLyricsPage() {
    const auto [page, layout] = MakePage<QHBoxLayout>("TabILyrics");
    layout->setContentsMargins(2, 2, 2, 2);
    auto* strip = MakeNamed<QWidget>("Panel2", page);
    strip->setFixedWidth(41);
    auto* stripLayout = new QVBoxLayout(strip);
    stripLayout->setContentsMargins(2, 2, 2, 2);
    const auto addButton = [&](const char* name, int tag, const QString& hint,
                               QStyle::StandardPixmap icon, bool visible) {
        auto* button = MakeNamed<QToolButton>(name, strip);
        button->setAutoRaise(true); // a flat button, raised under the mouse
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

    Ed2Lyrics = MakeFixedWidthBox(page, "Ed2Lyrics");
    Ed2Lyrics->setLineWrapMode(QPlainTextEdit::NoWrap);
    Ed2Lyrics->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Ed2Lyrics->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(Ed2Lyrics, 1);
    return page;
}

QWidget* TFormMain::BuildMpegPage() {
    const auto [page, layout] = MakePage<QVBoxLayout>("TabMPEG");
    layout->setContentsMargins(2, 2, 2, 2);
    MemoInfo = MakeFixedWidthBox(page, "MemoInfo");
    MemoInfo->setPlainText(QStringLiteral("MemoInfo"));
    MemoInfo->setReadOnly(true);
    QPalette palette = MemoInfo->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    MemoInfo->setPalette(palette);
    layout->addWidget(MemoInfo);
    return page;
}

QWidget* TFormMain::BuildAboutPage() {
    const auto [page, layout] = MakePage<QVBoxLayout>("TabAbout");
    auto* panel = new QWidget(page);
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, QColor(245, 255, 240));
    palette.setColor(QPalette::WindowText, Qt::black);
    panel->setPalette(palette);
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setAlignment(Qt::AlignCenter);

    LB_PNM = MakeNamed<QLabel>("LB_PNM", QStringLiteral("Tag Cantorell"), panel);
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

    LB_VER = MakeBoldLabel(panel, "LB_VER", VersionLine());
    LB_VER->setAlignment(Qt::AlignCenter);

    LB_LINK = MakeLinkLabel(panel, "LB_LINK", ProductPageAddress().toDisplayString());
    LB_LINK->setFont(LB_VER->font());
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
    const auto [page, layout] = MakePage<QVBoxLayout>("TabSheet1");
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

} // namespace cantorell
