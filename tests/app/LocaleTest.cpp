// A user whose locale writes decimal commas still sees points in the panels and the log.
#include "support/EventLoopHelper.h"
#include "WindowFixture.h"

#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace {
// Makes a German locale available (installed, or generated into LOCPATH) and activates it as the
// application object does at start-up from LANG/LC_ALL. Returns false when no comma locale can be had.
bool activateCommaLocale(const std::string& scratch)
{
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    setenv("LANG", "de_DE.UTF-8", 1);
    if (!std::setlocale(LC_ALL, "")) {
        const std::string target = scratch + "/de_DE.UTF-8";
        QProcess::execute(QStringLiteral("localedef"),
                          {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"), QStringLiteral("UTF-8"),
                           QString::fromStdString(target)});
        setenv("LOCPATH", scratch.c_str(), 1);
        if (!std::setlocale(LC_ALL, ""))
            return false;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", 1.5);
    return std::string(text) == "1,5";
}
} // namespace

class CommaLocale : public WindowTest {
protected:
    void TearDown() override
    {
        WindowTest::TearDown();
        std::setlocale(LC_ALL, "C");
        unsetenv("LC_ALL");
        unsetenv("LANG");
        unsetenv("LOCPATH");
        QLocale::setDefault(QLocale::c());
    }
    TempDir localeDir;
};

TEST_F(CommaLocale, PanelsAndLogUsePointsAndTheUkDate)
{
    if (!activateCommaLocale(localeDir.path()))
        GTEST_SKIP() << "no locale with a decimal comma is installed, and localedef could not generate de_DE.UTF-8";
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    createFormWithLine("N3 51234 49876 120 0.0123 24 101.3");
    ASSERT_TRUE(waitForPanel("pnlSample", "51234"));
    EXPECT_EQ(panelText("pnlPressure"), QStringLiteral("101.3"));
    EXPECT_EQ(panelText("pnlConcentration"), QStringLiteral("1.23"));

    form->LogTimer()->setInterval(30);
    saveAnswers = {QString::fromStdString(dir.file("log.txt"))};
    QPushButton* logging = button("btnLogging");
    QTest::mouseClick(logging, Qt::LeftButton);
    runEventsUntil([&] { return dir.read("log.txt").find("101.3") != std::string::npos; }, 3000);
    QTest::mouseClick(logging, Qt::LeftButton);
    const std::string content = dir.read("log.txt");
    const std::string date = QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy")).toStdString();
    EXPECT_NE(content.find("\r\n" + date + "\t"), std::string::npos) << content;
    EXPECT_NE(content.find("\t0.0123\t24\t101.3\r\n"), std::string::npos) << content;
    EXPECT_EQ(content.find(','), std::string::npos) << content;
}
