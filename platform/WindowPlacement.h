// Window management for the form-persistence component: a window's normal bounds, its
// state, the always-on-top flag and its size limits, and the size of a pane inside a
// splitter.
//
// Bounds are the client area's position and size, both of which the window system reports
// and takes back exactly. The frame's size is not known until the window manager has
// decorated the window, after the first show, and then only when it says so: a frame
// position read before that is the client's, and one given to a window not yet shown lands
// on the client. Bounds taken from the frame therefore moved the window by its title bar on
// every restart, and a size taken from it would make it grow by its frame.
#pragma once

#include <QRect>
#include <QSize>

class QWidget;

namespace cantorell {

class TWindowPlacement {
public:
    // The placement's show state, with the values the options file stores for "State".
    enum TShowState { wsNormal = 0, wsMinimized = 1, wsMaximized = 2 };

    virtual ~TWindowPlacement() = default;
    // The real one.
    static TWindowPlacement& Default();

    virtual TShowState State(const QWidget& form) const;
    virtual QRect Bounds(const QWidget& form) const;
    virtual void SetBounds(QWidget& form, const QRect& bounds);
    // Minimising is queued so that it happens once the window is on screen: a window that
    // is minimised before it was ever mapped comes up normal on most window managers.
    virtual void SetState(QWidget& form, TShowState state);
    // Sets or clears Qt::WindowStaysOnTopHint without hiding the window: changing a
    // visible widget's flags through QWidget would hide it, which the persistence
    // component would take for the window closing.
    virtual void SetTopMost(QWidget& form, bool topMost);
    // Puts the hint back when something (a window-flag change elsewhere) dropped it.
    virtual void ReassertTopMost(QWidget& form);
    // The user's resize limits; an empty dimension means "no limit" on that side.
    virtual void SetSizeLimits(QWidget& form, QSize minimum, QSize maximum);
};

// Gives `pane` the size `size` along its splitter's orientation, taking the difference
// from its neighbour (the next pane, or the previous one for the last pane). False, and
// nothing changes, when `pane` is not inside a splitter or `size` is negative.
bool SetSizeInSplitter(QWidget& pane, int size);
// The pane's size along its splitter's orientation (its width when it is in no splitter).
int SizeInSplitter(const QWidget& pane);

} // namespace cantorell
