// The interval editors (validation, Apply buttons, conversion errors, the Enter key) and the timers' precision.
#include "support/EventLoopHelper.h"
#include "WindowFixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <map>
#include <vector>

namespace {
// Times the events of the timers it watches, before their handlers run.
struct FireRecorder : QObject {
    std::map<QObject*, std::vector<std::chrono::nanoseconds>> fired;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Timer)
            fired[watched].push_back(std::chrono::steady_clock::now().time_since_epoch());
        return false;
    }
};
} // namespace

class Intervals : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        startSimulator();
        createForm();
        graphicsEdit = edit("edtGraphicsInterval");
        graphicsApply = button("btnGraphicsInterval");
        loggingEdit = edit("edtLoggingInterval");
        loggingApply = button("btnLoggingInterval");
    }
    void apply(QLineEdit* editor, QPushButton* applyButton, const QString& text)
    {
        editor->setText(text);
        EXPECT_TRUE(applyButton->isEnabled());
        QTest::mouseClick(applyButton, Qt::LeftButton); // delivered through the application object
    }

    QLineEdit* graphicsEdit = nullptr;
    QPushButton* graphicsApply = nullptr;
    QLineEdit* loggingEdit = nullptr;
    QPushButton* loggingApply = nullptr;
};

TEST_F(Intervals, InvalidOrTooSmallTextIsRestoredToTheCurrentInterval)
{
    for (const char* text : {"0", "-3", "-0", "", " 5", "5 ", "a", "1.5", "5s", "5-"}) {
        apply(graphicsEdit, graphicsApply, QString::fromLatin1(text));
        EXPECT_EQ(graphicsEdit->text(), QStringLiteral("1")) << text;
        EXPECT_TRUE(graphicsApply->isEnabled()) << text; // the restored text enables it again
        EXPECT_EQ(form->focusWidget(), graphicsEdit) << text;
        EXPECT_EQ(form->GraphicsTimer()->interval(), 1000) << text;
    }
    EXPECT_TRUE(form->GraphicsTimer()->isActive());
    EXPECT_TRUE(reports.empty());
}

TEST_F(Intervals, SignedAndZeroPaddedNumbersAreAcceptedAsTyped)
{
    apply(graphicsEdit, graphicsApply, QStringLiteral("+5"));
    EXPECT_EQ(form->GraphicsTimer()->interval(), 5000);
    EXPECT_EQ(graphicsEdit->text(), QStringLiteral("+5"));
    EXPECT_FALSE(graphicsApply->isEnabled());
    EXPECT_TRUE(form->GraphicsTimer()->isActive());

    apply(loggingEdit, loggingApply, QStringLiteral("0005"));
    EXPECT_EQ(form->LogTimer()->interval(), 5000);
    EXPECT_FALSE(form->LogTimer()->isActive()); // not logging: keeps the interval for later
    EXPECT_EQ(loggingEdit->text(), QStringLiteral("0005"));

    // Invalid text after a change restores the new interval.
    apply(graphicsEdit, graphicsApply, QStringLiteral("x"));
    EXPECT_EQ(graphicsEdit->text(), QStringLiteral("5"));
    EXPECT_TRUE(reports.empty());
}

TEST_F(Intervals, LoneSignOrOutOfRangeTextReportsTheConversionError)
{
    apply(graphicsEdit, graphicsApply, QStringLiteral("-"));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "'-' is not a valid integer value");
    EXPECT_FALSE(graphicsApply->isEnabled());
    EXPECT_EQ(form->GraphicsTimer()->interval(), 1000);
    EXPECT_EQ(graphicsEdit->text(), QStringLiteral("-"));

    apply(loggingEdit, loggingApply, QStringLiteral("+"));
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1], "'+' is not a valid integer value");

    apply(graphicsEdit, graphicsApply, QStringLiteral("2147483648"));
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[2], "'2147483648' is not a valid integer value");
    EXPECT_EQ(form->GraphicsTimer()->interval(), 1000);
    EXPECT_TRUE(form->GraphicsTimer()->isActive());
}

TEST_F(Intervals, LargestIntervalIsAcceptedAndOneMoreSecondOverflows)
{
    apply(graphicsEdit, graphicsApply, QStringLiteral("2147483"));
    EXPECT_EQ(form->GraphicsTimer()->interval(), 2147483000);
    apply(graphicsEdit, graphicsApply, QStringLiteral("2147484"));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "Integer overflow");
    EXPECT_EQ(form->GraphicsTimer()->interval(), 2147483000);
    EXPECT_FALSE(graphicsApply->isEnabled());
}

TEST_F(Intervals, EnterPressesTheFirstEnabledApplyButton)
{
    graphicsEdit->setText(QStringLiteral("3"));
    loggingEdit->setText(QStringLiteral("4"));
    QTest::keyClick(graphicsEdit, Qt::Key_Return);
    EXPECT_EQ(form->LogTimer()->interval(), 4000); // the logging Apply comes first
    EXPECT_EQ(form->GraphicsTimer()->interval(), 1000);
    EXPECT_FALSE(loggingApply->isEnabled());

    QTest::keyClick(graphicsEdit, Qt::Key_Enter);
    EXPECT_EQ(form->GraphicsTimer()->interval(), 3000);
    EXPECT_FALSE(graphicsApply->isEnabled());

    // With the focus on a button Enter does not apply.
    graphicsEdit->setText(QStringLiteral("7"));
    QPushButton* start = button("btnLogging");
    start->setFocus();
    QTest::keyClick(start, Qt::Key_Return);
    EXPECT_EQ(form->GraphicsTimer()->interval(), 3000);
    EXPECT_TRUE(graphicsApply->isEnabled());
    EXPECT_TRUE(reports.empty());
}

// No tick comes before its interval (a coarse timer may fire up to 5 % early); a loaded machine only delays them.
TEST_F(Intervals, AcquisitionTimersNeverFireBeforeTheirInterval)
{
    saveAnswers = {QString::fromStdString(dir.file("log.txt"))};
    QTest::mouseClick(button("btnLogging"), Qt::LeftButton);
    form->GraphicsTimer()->setInterval(200);
    form->LogTimer()->setInterval(200);
    FireRecorder recorder;
    for (QTimer* timer : {form->DisplaysTimer(), form->GraphicsTimer(), form->LogTimer()})
        timer->installEventFilter(&recorder);
    ASSERT_TRUE(runEventsUntil([&] { return recorder.fired[form->LogTimer()].size() >= 12; }, 10000));
    for (QTimer* timer : {form->DisplaysTimer(), form->GraphicsTimer(), form->LogTimer()}) {
        const std::vector<std::chrono::nanoseconds>& fired = recorder.fired[timer];
        for (size_t i = 1; i < fired.size(); ++i)
            EXPECT_GE(fired[i] - fired[i - 1], std::chrono::milliseconds(timer->interval()))
                << timer->objectName().toStdString() << " tick " << i;
    }
}
