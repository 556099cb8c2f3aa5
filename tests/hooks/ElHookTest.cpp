// Control hooks: the order of before-handlers, the control's own handling and after-
// handlers, swallowing, detaching and reattaching, and controls that go away.
#include "support/ElHook.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QStringList>

#include <memory>

using namespace cantorell;

namespace {

const auto Ping = static_cast<QEvent::Type>(QEvent::User + 17);

// A control that records when its own handling sees the test event.
class TRecordingControl : public QObject {
public:
    explicit TRecordingControl(QStringList& log) : FLog(log) {}
    bool event(QEvent* event) override {
        if (event->type() == Ping) {
            FLog.append(QStringLiteral("control"));
            return true;
        }
        return QObject::event(event);
    }

private:
    QStringList& FLog;
};

class ElHookTest : public ::testing::Test {
protected:
    // A hook named `name` on the control that logs both phases; `swallow` makes its
    // before-handler report the event handled.
    std::unique_ptr<TElHook> MakeHook(const QString& name, bool swallow = false) {
        auto hook = std::make_unique<TElHook>();
        hook->OnBeforeProcess = [this, name, swallow](TElHook&, QEvent& msg, bool& handled) {
            if (msg.type() != Ping)
                return;
            Log.append(name + QStringLiteral(" before"));
            handled = swallow;
        };
        hook->OnAfterProcess = [this, name](TElHook&, QEvent& msg, bool&) {
            if (msg.type() == Ping)
                Log.append(name + QStringLiteral(" after"));
        };
        hook->SetControl(Control.get());
        return hook;
    }

    void Send() {
        QEvent event(Ping);
        QCoreApplication::sendEvent(Control.get(), &event);
    }

    QStringList Log;
    std::unique_ptr<TRecordingControl> Control = std::make_unique<TRecordingControl>(Log);
};

} // namespace

TEST_F(ElHookTest, TheHookAttachedLastSeesEachEventFirstInBothPhases) {
    auto first = MakeHook(QStringLiteral("A"));
    auto second = MakeHook(QStringLiteral("B"));
    first->SetActive(true);
    second->SetActive(true);

    Send();

    EXPECT_EQ(QStringList({"B before", "A before", "control", "B after", "A after"}), Log);
}

TEST_F(ElHookTest, AHandledBeforeHandlerSkipsTheControlAndLaterBeforeHandlersButNotAfterHandlers) {
    auto first = MakeHook(QStringLiteral("A"));
    auto second = MakeHook(QStringLiteral("B"), /*swallow=*/true);
    first->SetActive(true);
    second->SetActive(true);

    Send();

    EXPECT_EQ(QStringList({"B before", "B after", "A after"}), Log);
}

TEST_F(ElHookTest, DetachingTheOnlyHookRemovesTheFilterAndAttachingAgainReusesTheInterceptor) {
    auto hook = MakeHook(QStringLiteral("A"));
    hook->SetActive(true);
    TCtlHook* interceptor = TElHookList::Instance().Find(Control.get());
    ASSERT_NE(nullptr, interceptor);
    EXPECT_TRUE(interceptor->Intercepting());

    hook->SetActive(false);
    EXPECT_FALSE(interceptor->Intercepting());
    Send();
    EXPECT_EQ(QStringList({"control"}), Log);

    hook->SetActive(true);
    EXPECT_EQ(interceptor, TElHookList::Instance().Find(Control.get()));
    Log.clear();
    Send();
    EXPECT_EQ(QStringList({"A before", "control", "A after"}), Log);
}

TEST_F(ElHookTest, ActivatingWithoutAControlOnlySetsTheFlagUntilAControlIsGiven) {
    TElHook hook;
    hook.OnBeforeProcess = [this](TElHook&, QEvent& msg, bool&) {
        if (msg.type() == Ping)
            Log.append(QStringLiteral("hook"));
    };
    hook.SetActive(true);
    EXPECT_TRUE(hook.Active());
    Send();
    EXPECT_EQ(QStringList({"control"}), Log);

    hook.SetControl(Control.get());
    Log.clear();
    Send();
    EXPECT_EQ(QStringList({"hook", "control"}), Log);

    // Setting no control leaves the hook inactive.
    hook.SetControl(nullptr);
    EXPECT_FALSE(hook.Active());
}

TEST_F(ElHookTest, DestroyingTheControlClearsEveryHookOnIt) {
    auto first = MakeHook(QStringLiteral("A"));
    auto second = MakeHook(QStringLiteral("B"));
    first->SetActive(true);
    second->SetActive(true);
    const QObject* gone = Control.get();

    Control.reset();

    EXPECT_EQ(nullptr, first->Control());
    EXPECT_EQ(nullptr, second->Control());
    EXPECT_FALSE(first->Active());
    EXPECT_EQ(nullptr, TElHookList::Instance().Find(gone));
}

TEST_F(ElHookTest, AControlDeletedInsideItsOwnHandlingStillReachesTheAfterHandlersSafely) {
    auto* control = new QObject;
    TElHook hook;
    int after = 0;
    hook.OnAfterProcess = [&after](TElHook&, QEvent&, bool&) { ++after; };
    hook.SetControl(control);
    hook.SetActive(true);

    // DeferredDelete makes the control's own event() delete it while the hook dispatches.
    control->deleteLater();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    EXPECT_EQ(nullptr, hook.Control());
    EXPECT_EQ(0, after); // the interceptor stops once its control is gone
}

TEST_F(ElHookTest, AHandlerThatDestroysAnotherHookDoesNotCrashTheDispatch) {
    auto first = MakeHook(QStringLiteral("A"));
    auto second = std::make_unique<TElHook>();
    second->OnBeforeProcess = [&first](TElHook&, QEvent& msg, bool&) {
        if (msg.type() == Ping)
            first.reset();
    };
    first->SetActive(true);
    second->SetControl(Control.get());
    second->SetActive(true);

    Send();

    EXPECT_EQ(QStringList({"control"}), Log);
}
