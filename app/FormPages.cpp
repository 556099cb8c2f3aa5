// The main window's pages besides the two tag pages: the lyrics with their buttons, the
// stream summary, the About page and the page about the command-line tool.
#include "app/main.h"

#include "app/Common.h"

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
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setText(
        QStringLiteral("<a href=\"#\" style=\"color:#0000ff\">%1</a>").arg(text.toHtmlEscaped()));
    label->setTextFormat(Qt::RichText);
    label->setCursor(Qt::PointingHandCursor);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    return label;
}

// A page of the page control, named `name`: its layout, set on the page.
template <typename TLayout> TLayout* MakePage(const char* name) {
    auto* page = new QWidget;
    page->setObjectName(QLatin1String(name));
    return new TLayout(page);
}

} // namespace

QWidget* TFormMain::BuildLyricsPage() {
    auto* layout = MakePage<QHBoxLayout>("TabILyrics");
    QWidget* page = layout->parentWidget();
    layout->setContentsMargins(2, 2, 2, 2);
    auto* strip = new QWidget(page);
    strip->setObjectName(QStringLiteral("Panel2"));
    strip->setFixedWidth(41);
    auto* stripLayout = new QVBoxLayout(strip);
    stripLayout->setContentsMargins(2, 2, 2, 2);
    const auto addButton = [&](const char* name, int tag, const QString& hint,
                               QStyle::StandardPixmap icon, bool visible) {
        auto* button = new QToolButton(strip);
        button->setObjectName(QLatin1String(name));
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
    auto* layout = MakePage<QVBoxLayout>("TabMPEG");
    QWidget* page = layout->parentWidget();
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
    auto* layout = MakePage<QVBoxLayout>("TabAbout");
    QWidget* page = layout->parentWidget();
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
    auto* layout = MakePage<QVBoxLayout>("TabSheet1");
    QWidget* page = layout->parentWidget();
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
