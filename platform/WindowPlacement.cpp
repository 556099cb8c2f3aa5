#include "platform/WindowPlacement.h"

#include <QGuiApplication>
#include <QMetaObject>
#include <QScreen>
#include <QSplitter>
#include <QWidget>
#include <QWindow>

namespace cantorell {

TWindowPlacement& TWindowPlacement::Default() {
    static TWindowPlacement placement;
    return placement;
}

TWindowPlacement::TShowState TWindowPlacement::State(const QWidget& form) const {
    const Qt::WindowStates states = form.windowState();
    if (states & Qt::WindowMinimized)
        return wsMinimized;
    if (states & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return wsMaximized;
    return wsNormal;
}

QRect TWindowPlacement::Bounds(const QWidget& form) const {
    return form.geometry();
}

namespace {

// Bounds come from an options file that anyone may have edited or carried over from a
// machine with larger screens: a window is never larger than the screen it goes to, and
// one wholly off every screen is put back at the top left of the main one.
QRect OnScreen(const QRect& bounds, const QWidget& form) {
    QScreen* target = QGuiApplication::screenAt(bounds.center());
    bool visible = target != nullptr;
    for (const QScreen* screen : QGuiApplication::screens())
        visible = visible || screen->availableGeometry().intersects(bounds);
    if (target == nullptr)
        target = visible && form.screen() ? form.screen() : QGuiApplication::primaryScreen();
    if (target == nullptr)
        return bounds;
    const QRect area = target->availableGeometry();
    QRect placed(bounds.topLeft(), bounds.size().boundedTo(area.size()));
    if (!visible)
        placed.moveTopLeft(area.topLeft());
    return placed;
}

} // namespace

void TWindowPlacement::SetBounds(QWidget& form, const QRect& bounds) {
    form.setGeometry(OnScreen(bounds, form));
}

void TWindowPlacement::SetState(QWidget& form, TShowState state) {
    switch (state) {
    case wsMinimized:
        QMetaObject::invokeMethod(&form, &QWidget::showMinimized, Qt::QueuedConnection);
        break;
    case wsMaximized:
        form.setWindowState((form.windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
        break;
    case wsNormal:
        form.setWindowState(form.windowState() & ~Qt::WindowMinimized);
        break;
    }
}

void TWindowPlacement::SetTopMost(QWidget& form, bool topMost) {
    Qt::WindowFlags flags = form.windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, topMost);
    form.overrideWindowFlags(flags);
    if (QWindow* window = form.windowHandle())
        window->setFlags(flags);
}

void TWindowPlacement::ReassertTopMost(QWidget& form) {
    if (QWindow* window = form.windowHandle()) {
        if (!window->flags().testFlag(Qt::WindowStaysOnTopHint))
            window->setFlags(window->flags() | Qt::WindowStaysOnTopHint);
    }
}

void TWindowPlacement::SetSizeLimits(QWidget& form, QSize minimum, QSize maximum) {
    form.setMinimumSize(minimum.width() > 0 ? minimum.width() : 0,
                        minimum.height() > 0 ? minimum.height() : 0);
    form.setMaximumSize(maximum.width() > 0 ? maximum.width() : QWIDGETSIZE_MAX,
                        maximum.height() > 0 ? maximum.height() : QWIDGETSIZE_MAX);
}

bool SetSizeInSplitter(QWidget& pane, int size) {
    auto* splitter = qobject_cast<QSplitter*>(pane.parentWidget());
    if (splitter == nullptr || size < 0)
        return false;
    const int index = splitter->indexOf(&pane);
    QList<int> sizes = splitter->sizes();
    if (index < 0 || sizes.size() < 2)
        return false;
    const int neighbour = index + 1 < sizes.size() ? index + 1 : index - 1;
    // The two panes share what they had; the neighbour keeps at least nothing, and the
    // splitter itself enforces the panes' minimum sizes.
    const int total = sizes[index] + sizes[neighbour];
    if (total > 0 && size > total)
        size = total;
    sizes[neighbour] = total > 0 ? total - size : sizes[neighbour];
    sizes[index] = size;
    splitter->setSizes(sizes);
    return true;
}

int SizeInSplitter(const QWidget& pane) {
    auto* splitter = qobject_cast<QSplitter*>(pane.parentWidget());
    if (splitter == nullptr)
        return pane.width();
    const int index = splitter->indexOf(const_cast<QWidget*>(&pane));
    const QList<int> sizes = splitter->sizes();
    return index >= 0 && index < sizes.size() ? sizes[index] : 0;
}

} // namespace cantorell
