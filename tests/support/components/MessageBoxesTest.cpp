#include "support/components/MessageBoxes.h"

#include <QByteArray>
#include <gtest/gtest.h>

using namespace morvane;

namespace {

class MessageBoxesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        MessageBoxes::Reset();
        m_old = qgetenv("MORVANE_AUTO_ANSWER");
        qunsetenv("MORVANE_AUTO_ANSWER");
    }
    void TearDown() override
    {
        MessageBoxes::Reset();
        if (m_old.isNull())
            qunsetenv("MORVANE_AUTO_ANSWER");
        else
            qputenv("MORVANE_AUTO_ANSWER", m_old);
    }

private:
    QByteArray m_old;
};

} // namespace

TEST_F(MessageBoxesTest, QueuedAnswersComeFirstAndInOrder)
{
    qputenv("MORVANE_AUTO_ANSWER", "yes");
    MessageBoxes::PushAnswer(BoxAnswer::No);
    MessageBoxes::PushAnswer(BoxAnswer::Yes);
    EXPECT_EQ(MessageBoxes::Show(BoxKind::Confirmation, "first", BoxButtons::YesNo), BoxAnswer::No);
    EXPECT_EQ(MessageBoxes::Show(BoxKind::Confirmation, "second", BoxButtons::YesNo), BoxAnswer::Yes);
    EXPECT_EQ(MessageBoxes::TakeShownTexts(), (std::vector<std::string>{"first", "second"}));
}

TEST_F(MessageBoxesTest, AnswerAlwaysFitsTheButtons)
{
    MessageBoxes::PushAnswer(BoxAnswer::Yes);
    EXPECT_EQ(MessageBoxes::Show(BoxKind::Warning, "ok box", BoxButtons::Ok), BoxAnswer::Ok);
    MessageBoxes::PushAnswer(BoxAnswer::Ok);
    EXPECT_EQ(MessageBoxes::Show(BoxKind::Confirmation, "yes/no box", BoxButtons::YesNo), BoxAnswer::Yes);
}

TEST_F(MessageBoxesTest, EnvironmentAnswersWhenNothingIsQueued)
{
    qputenv("MORVANE_AUTO_ANSWER", "No");
    EXPECT_EQ(MessageBoxes::AutoAnswer(), BoxAnswer::No);
    EXPECT_EQ(MessageBoxes::Show(BoxKind::Confirmation, "q", BoxButtons::YesNo, BoxAnswer::Yes),
              BoxAnswer::No);
    qputenv("MORVANE_AUTO_ANSWER", "maybe");
    EXPECT_EQ(MessageBoxes::AutoAnswer(), std::nullopt);
}

TEST_F(MessageBoxesTest, WithoutScreenTheDefaultButtonAnswers)
{
    // The tests run on the offscreen platform: nobody could press a button.
    EXPECT_EQ(MessageBoxes::Show(BoxKind::Information, "q", BoxButtons::YesNo, BoxAnswer::No), BoxAnswer::No);
    EXPECT_EQ(MessageBoxes::Show(BoxKind::Information, "q", BoxButtons::YesNo, BoxAnswer::Yes),
              BoxAnswer::Yes);
    EXPECT_EQ(MessageBoxes::Show(BoxKind::Error, "e", BoxButtons::Ok, BoxAnswer::No), BoxAnswer::Ok);
}
