#include "support/ElHook.h"

#include <QEvent>

#include <algorithm>

namespace cantorell {

// ---------------------------------------------------------------------------------------
// TElHook

TElHook::TElHook(QObject* owner) : QObject(owner) {}

TElHook::~TElHook() {
    SetControl(nullptr);
}

void TElHook::SetActive(bool value) {
    if (value == FActive)
        return;
    if (FControl != nullptr) {
        if (value) {
            TElHookList::Instance().FindOrAdd(FControl)->Attach(this);
        } else if (TElHookList* list = TElHookList::Existing()) {
            if (TCtlHook* hook = list->Find(FControl))
                hook->Detach(this);
        }
    }
    FActive = value;
}

void TElHook::SetControl(QObject* value) {
    if (value == FControl)
        return;
    const bool wasActive = FActive;
    SetActive(false);
    if (FDestroyedLink)
        disconnect(FDestroyedLink);
    FControl = value;
    if (FControl != nullptr) {
        SetActive(wasActive);
        FDestroyedLink = connect(FControl, &QObject::destroyed, this, &TElHook::ControlDestroyed);
    }
}

void TElHook::ControlDestroyed() {
    // The interceptor of the control is gone or going; only forget the control.
    if (TElHookList* list = TElHookList::Existing()) {
        if (TCtlHook* hook = list->Find(FControl))
            hook->Detach(this);
    }
    FDestroyedLink = {};
    FControl = nullptr;
    FActive = false;
}

void TElHook::DoBeforeProcess(QEvent& msg, bool& handled) {
    if (OnBeforeProcess)
        OnBeforeProcess(*this, msg, handled);
}

void TElHook::DoAfterProcess(QEvent& msg, bool& handled) {
    if (OnAfterProcess)
        OnAfterProcess(*this, msg, handled);
}

// ---------------------------------------------------------------------------------------
// TCtlHook

TCtlHook::TCtlHook(QObject* control) : FControl(control) {}

TCtlHook::~TCtlHook() {
    FDestroying = true;
    FHooks.Clear();
    if (FInstalled && FControl)
        FControl->removeEventFilter(this);
}

void TCtlHook::Attach(TElHook* hook) {
    FHooks.Add(hook);
    if (!FInstalled && FControl) {
        FControl->installEventFilter(this);
        FInstalled = true;
    }
}

void TCtlHook::Detach(TElHook* hook) {
    FHooks.Remove(hook);
    if (FHooks.Count() == 0 && FInstalled) {
        // A control that is already gone took its filters with it.
        if (FControl)
            FControl->removeEventFilter(this);
        FInstalled = false;
    }
}

bool TCtlHook::eventFilter(QObject* watched, QEvent* event) {
    if (watched != FControl || FDestroying)
        return false;
    // Handlers may attach or detach hooks while they run: work on the hooks as they were
    // when the event arrived, and skip any that left meanwhile.
    std::vector<QPointer<TElHook>> hooks;
    hooks.reserve(static_cast<size_t>(FHooks.Count()));
    for (int32_t i = FHooks.Count() - 1; i >= 0; --i)
        hooks.emplace_back(static_cast<TElHook*>(FHooks.At(i)));

    ++FDepth;
    bool handled = false;
    if (event->type() != QEvent::Quit) {
        for (const QPointer<TElHook>& hook : hooks) {
            if (hook && FHooks.IndexOf(hook.data()) >= 0) {
                hook->DoBeforeProcess(*event, handled);
                if (handled)
                    break;
            }
        }
    }
    if (!handled && FControl) {
        // The control's own handling. Its event() may delete the control.
        QObject* control = FControl.data();
        control->event(event);
    }
    handled = false;
    for (const QPointer<TElHook>& hook : hooks) {
        if (FOrphaned)
            break;
        if (hook && FHooks.IndexOf(hook.data()) >= 0) {
            hook->DoAfterProcess(*event, handled);
            if (handled)
                break;
        }
    }
    --FDepth;
    if (FOrphaned && FDepth == 0)
        delete this;
    // The event has been delivered (or swallowed) here; Qt must not deliver it again.
    return true;
}

// ---------------------------------------------------------------------------------------
// TElHookList

std::unique_ptr<TElHookList>& TElHookList::Holder() {
    static std::unique_ptr<TElHookList> list;
    return list;
}

TElHookList& TElHookList::Instance() {
    auto& list = Holder();
    if (!list)
        list.reset(new TElHookList);
    return *list;
}

TElHookList* TElHookList::Existing() {
    return Holder().get();
}

TCtlHook* TElHookList::Find(const QObject* control) const {
    if (control == nullptr)
        return nullptr;
    for (const auto& hook : FHooks) {
        if (hook->Control() == control)
            return hook.get();
    }
    return nullptr;
}

TCtlHook* TElHookList::FindOrAdd(QObject* control) {
    if (TCtlHook* hook = Find(control))
        return hook;
    FHooks.push_back(std::make_unique<TCtlHook>(control));
    TCtlHook* hook = FHooks.back().get();
    QObject::connect(control, &QObject::destroyed, hook, [this, hook] { ControlDestroyed(hook); });
    return hook;
}

void TElHookList::ControlDestroyed(TCtlHook* hook) {
    const auto it = std::find_if(FHooks.begin(), FHooks.end(),
                                 [hook](const auto& owned) { return owned.get() == hook; });
    if (it == FHooks.end())
        return;
    TCtlHook* released = it->release();
    FHooks.erase(it);
    released->FInstalled = false;
    if (released->FDepth > 0)
        released->FOrphaned = true;
    else
        delete released;
}

} // namespace cantorell
