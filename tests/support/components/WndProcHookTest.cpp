#include "support/components/TkitCustomWndProcHook.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

using namespace morvane;

namespace {

const QEvent::Type kProbe = static_cast<QEvent::Type>(QEvent::registerEventType());

// A widget that writes "W" for each event it receives itself.
class Window : public QWidget
{
public:
    std::string* Trace = nullptr;

protected:
    bool event(QEvent* e) override
    {
        if (Trace && (e->type() == kProbe || e->type() == QEvent::MouseButtonPress))
            *Trace += "W";
        return QWidget::event(e);
    }
};

class WndProcHookTest : public ::testing::Test
{
protected:
    std::unique_ptr<TkitWndProcHook> MakeHook(char name)
    {
        auto hook = std::make_unique<TkitWndProcHook>();
        hook->setObjectName(QString(name));
        hook->SetWinControl(&m_window);
        hook->SetOnMessageBefore([this, name](QObject*, QEvent* e, bool&) {
            if (e->type() == kProbe)
                m_trace += name;
        });
        return hook;
    }
    std::string Send()
    {
        m_trace.clear();
        QEvent probe(kProbe);
        QCoreApplication::sendEvent(&m_window, &probe);
        return m_trace;
    }

    Window m_window;
    std::string m_trace;

    void SetUp() override { m_window.Trace = &m_trace; }
};

// Whether a hook leaves by being switched off or by being destroyed.
class HookRemovalTest : public WndProcHookTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(HookRemovalTest, ChainKeepsReverseConstructionOrderUnderEveryRemovalOrder)
{
    const bool destroy = GetParam();
    std::vector<int> order{0, 1, 2};
    do {
        std::vector<std::unique_ptr<TkitWndProcHook>> hooks;
        for (char name : {'A', 'B', 'C'})
            hooks.push_back(MakeHook(name));
        // Activation order never matters.
        for (int i : {1, 2, 0})
            hooks[i]->SetActive(true);
        std::string left = "ABC";
        ASSERT_EQ(Send(), "CBAW");
        for (int i : order) {
            left.erase(left.find(char('A' + i)), 1);
            if (destroy)
                hooks[i].reset();
            else
                hooks[i]->SetActive(false);
            std::string expected(left.rbegin(), left.rend());
            EXPECT_EQ(Send(), expected + "W") << "after removing " << char('A' + i);
        }
    } while (std::next_permutation(order.begin(), order.end()));
}

INSTANTIATE_TEST_SUITE_P(Removal, HookRemovalTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Destroyed" : "SwitchedOff";
                         });

TEST_F(WndProcHookTest, HandledKeepsTheEventFromLowerHooksAndTheWindowButAfterStillRuns)
{
    auto a = MakeHook('A');
    auto b = MakeHook('B');
    std::vector<bool> afterSaw;
    b->SetOnMessageBefore([this](QObject*, QEvent* e, bool& handled) {
        if (e->type() == kProbe) {
            m_trace += "B";
            handled = true;
        }
    });
    b->SetOnMessageAfter([&](QObject* sender, QEvent* e, bool& handled) {
        EXPECT_EQ(sender, b.get());
        if (e->type() == kProbe)
            afterSaw.push_back(handled);
    });
    a->SetActive(true);
    b->SetActive(true);
    EXPECT_EQ(Send(), "B");
    EXPECT_EQ(afterSaw, std::vector<bool>{true});
}

TEST_F(WndProcHookTest, HookMaySwitchOffOrDestroyItselfInItsOwnHandler)
{
    auto a = MakeHook('A');
    auto b = MakeHook('B');
    auto c = MakeHook('C');
    b->SetOnMessageBefore([&](QObject*, QEvent* e, bool&) {
        if (e->type() == kProbe) {
            m_trace += "B";
            b->SetActive(false);
        }
    });
    c->SetOnMessageBefore([&](QObject*, QEvent* e, bool&) {
        if (e->type() == kProbe) {
            m_trace += "C";
            c.reset();
        }
    });
    c->SetOnMessageAfter([](QObject*, QEvent*, bool&) { FAIL() << "a destroyed hook ran"; });
    for (auto* hook : {a.get(), b.get(), c.get()})
        hook->SetActive(true);
    EXPECT_EQ(Send(), "CBAW");
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(Send(), "AW");
}

TEST_F(WndProcHookTest, AutoDragTakesOnlyTheLeftPress)
{
    auto hook = MakeHook('A');
    hook->SetAutoDrag(true);
    hook->SetActive(true);
    struct Press
    {
        Qt::MouseButton Button;
        const char* Seen;
    };
    for (const Press& press : {Press{Qt::LeftButton, ""}, Press{Qt::RightButton, "W"}}) {
        m_trace.clear();
        QMouseEvent event(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(1, 1), press.Button, press.Button,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(&m_window, &event);
        EXPECT_EQ(m_trace, press.Seen);
    }
}

TEST_F(WndProcHookTest, TargetsAndTheirLoss)
{
    // No control, no handle, an owner that is no widget: active without effect.
    QObject owner;
    TkitWndProcHook lone(&owner);
    lone.SetActive(true);
    EXPECT_TRUE(lone.Active());
    EXPECT_EQ(lone.GetHandle(), nullptr);

    // The owner widget is the default target; an explicit handle wins over it.
    QWidget other;
    auto hook = std::make_unique<TkitWndProcHook>(&m_window);
    int changes = 0;
    hook->SetOnChangeHandle([&](QObject*) { ++changes; });
    hook->SetOnMessageBefore([this](QObject*, QEvent* e, bool&) {
        if (e->type() == kProbe)
            m_trace += "H";
    });
    hook->SetActive(true);
    EXPECT_EQ(Send(), "HW");
    hook->SetHandle(&other);
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(hook->Active());
    EXPECT_EQ(Send(), "W");

    // A control destroyed while hooked is dropped.
    auto target = std::make_unique<QWidget>();
    TkitWndProcHook follower;
    follower.SetWinControl(target.get());
    follower.SetActive(true);
    target.reset();
    EXPECT_EQ(follower.GetWinControl(), nullptr);
    EXPECT_TRUE(follower.Active());
}

} // namespace
