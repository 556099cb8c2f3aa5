// Control hooks: let a component see every event of a control before and after the
// control's own handling, without subclassing the control's class.
//
// Several hooks may watch one control. They share one interceptor per control (TCtlHook),
// a Qt event filter installed on the control while at least one hook is attached, and all
// interceptors live in one process-wide list (TElHookList). For each event the interceptor
// runs, in this order:
//
//   1. the before-handlers, from the hook attached last to the one attached first, until
//      one of them reports the event handled;
//   2. unless a before-handler handled it, the control's own handling (its event());
//   3. the after-handlers, again from the last attached, until one reports it handled.
//
// A before-handler can thus swallow an event: the control never sees it, the after-
// handlers still do. Every handler sees the event as the previous one left it.
//
// The control's own handling is called directly from the filter. Event filters that were
// installed on the same control before the first hook attached are not run for events
// that pass through a hook; in this program nothing else filters the hooked window.
#pragma once

#include "support/ElList.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

class QEvent;

namespace cantorell {

class TElHook;

// Handler of a hook: the event may be changed (accepted, ignored); setting `handled`
// stops the remaining handlers of the same phase, and in the before-phase also the
// control's own handling.
using TElHookEvent = std::function<void(TElHook& sender, QEvent& msg, bool& handled)>;

class TElHook : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
    Q_PROPERTY(bool DesignActive READ DesignActive WRITE SetDesignActive)
    Q_PROPERTY(QObject* Control READ Control WRITE SetControl)

public:
    explicit TElHook(QObject* owner = nullptr);
    // Detaches from the control.
    ~TElHook() override;

    bool Active() const { return FActive; }
    // Attaches the hook to its control's interceptor (true) or detaches it (false). Without
    // a control only the flag changes; setting a control later attaches it.
    void SetActive(bool value);
    // Design time does not exist here; the flag is kept for components that set it.
    bool DesignActive() const { return FDesignActive; }
    void SetDesignActive(bool value) { FDesignActive = value; }
    QObject* Control() const { return FControl; }
    // Moves the hook to another control, keeping Active; null leaves the hook inactive.
    // The hook forgets the control by itself when the control is destroyed.
    void SetControl(QObject* value);

    TElHookEvent OnBeforeProcess;
    TElHookEvent OnAfterProcess;

protected:
    virtual void DoBeforeProcess(QEvent& msg, bool& handled);
    virtual void DoAfterProcess(QEvent& msg, bool& handled);

private:
    friend class TCtlHook;
    void ControlDestroyed();

    bool FActive = false;
    bool FDesignActive = false;
    QObject* FControl = nullptr;
    QMetaObject::Connection FDestroyedLink;
};

// The interceptor of one control.
class TCtlHook : public QObject {
    Q_OBJECT

public:
    explicit TCtlHook(QObject* control);
    // Removes the filter from the control if it is still installed.
    ~TCtlHook() override;

    QObject* Control() const { return FControl; }
    // The attached hooks, in attachment order (not owned).
    const TElList& Hooks() const { return FHooks; }
    // Whether the filter is on the control now.
    bool Intercepting() const { return FInstalled; }

    void Attach(TElHook* hook);
    void Detach(TElHook* hook);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TElHookList;

    QPointer<QObject> FControl;
    TElList FHooks;
    bool FInstalled = false;
    bool FDestroying = false;
    // Events being dispatched now; a control destroyed inside its own handling leaves its
    // interceptor to free itself once the dispatch is over.
    int FDepth = 0;
    bool FOrphaned = false;
};

// All interceptors of the process, created when the first hook attaches.
class TElHookList {
public:
    // The list, made on first call.
    static TElHookList& Instance();
    // The list if it exists yet, else null.
    static TElHookList* Existing();

    // The interceptor of `control`, or null.
    TCtlHook* Find(const QObject* control) const;
    // The interceptor of `control`, made and added when there is none.
    TCtlHook* FindOrAdd(QObject* control);
    int Count() const { return static_cast<int>(FHooks.size()); }

private:
    TElHookList() = default;
    // A destroyed control's interceptor can never be used again (another object may later
    // get the same address), so it leaves the list with the control.
    void ControlDestroyed(TCtlHook* hook);

    std::vector<std::unique_ptr<TCtlHook>> FHooks;
    static std::unique_ptr<TElHookList>& Holder();
};

} // namespace cantorell
