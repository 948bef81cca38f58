// The interval editors: validation, Apply buttons, conversion errors and the Enter key.
#include "EventLoopHelper.h"
#include "WindowFixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

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
        EXPECT_EQ(form->GraphicsTimer->interval(), 1000) << text;
    }
    EXPECT_TRUE(form->GraphicsTimer->isActive());
    EXPECT_TRUE(reports.empty());
}

TEST_F(Intervals, SignedAndZeroPaddedNumbersAreAcceptedAsTyped)
{
    apply(graphicsEdit, graphicsApply, QStringLiteral("+5"));
    EXPECT_EQ(form->GraphicsTimer->interval(), 5000);
    EXPECT_EQ(graphicsEdit->text(), QStringLiteral("+5"));
    EXPECT_FALSE(graphicsApply->isEnabled());
    EXPECT_TRUE(form->GraphicsTimer->isActive());

    apply(loggingEdit, loggingApply, QStringLiteral("0005"));
    EXPECT_EQ(form->LogTimer->interval(), 5000);
    EXPECT_FALSE(form->LogTimer->isActive()); // not logging: keeps the interval for later
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
    EXPECT_EQ(form->GraphicsTimer->interval(), 1000);
    EXPECT_EQ(graphicsEdit->text(), QStringLiteral("-"));

    apply(loggingEdit, loggingApply, QStringLiteral("+"));
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1], "'+' is not a valid integer value");

    apply(graphicsEdit, graphicsApply, QStringLiteral("2147483648"));
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[2], "'2147483648' is not a valid integer value");
    EXPECT_EQ(form->GraphicsTimer->interval(), 1000);
    EXPECT_TRUE(form->GraphicsTimer->isActive());
}

TEST_F(Intervals, LargestIntervalIsAcceptedAndOneMoreSecondOverflows)
{
    apply(graphicsEdit, graphicsApply, QStringLiteral("2147483"));
    EXPECT_EQ(form->GraphicsTimer->interval(), 2147483000);
    apply(graphicsEdit, graphicsApply, QStringLiteral("2147484"));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "Integer overflow");
    EXPECT_EQ(form->GraphicsTimer->interval(), 2147483000);
    EXPECT_FALSE(graphicsApply->isEnabled());
}

TEST_F(Intervals, EnterPressesTheFirstEnabledApplyButton)
{
    graphicsEdit->setText(QStringLiteral("3"));
    loggingEdit->setText(QStringLiteral("4"));
    QTest::keyClick(graphicsEdit, Qt::Key_Return);
    EXPECT_EQ(form->LogTimer->interval(), 4000); // the logging Apply comes first
    EXPECT_EQ(form->GraphicsTimer->interval(), 1000);
    EXPECT_FALSE(loggingApply->isEnabled());

    QTest::keyClick(graphicsEdit, Qt::Key_Enter);
    EXPECT_EQ(form->GraphicsTimer->interval(), 3000);
    EXPECT_FALSE(graphicsApply->isEnabled());

    // With the focus on a button Enter does not apply.
    graphicsEdit->setText(QStringLiteral("7"));
    QPushButton* start = button("btnLogging");
    start->setFocus();
    QTest::keyClick(start, Qt::Key_Return);
    EXPECT_EQ(form->GraphicsTimer->interval(), 3000);
    EXPECT_TRUE(graphicsApply->isEnabled());
    EXPECT_TRUE(reports.empty());
}
