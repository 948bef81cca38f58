#include "about/AboutBox.h"

#include <QCoreApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

TFixedFileInfo version(uint16_t major, uint16_t minor, uint16_t release, uint16_t build, bool preRelease)
{
    TFixedFileInfo info;
    info.FileVersionMS = uint32_t(major) << 16 | minor;
    info.FileVersionLS = uint32_t(release) << 16 | build;
    info.FileFlagsMask = 0x3F;
    info.FileFlags = preRelease ? VersionFileFlag::PreRelease : 0x1; // 0x1: a debug build, not shown
    return info;
}

class AboutBoxTest : public ::testing::Test {
protected:
    void SetUp() override { QCoreApplication::setApplicationName("Velmora Data Logger"); }
    void TearDown() override { TFormAboutSplash::SetVersionInfoSource({}); }

    static void useVersion(const TFixedFileInfo& info)
    {
        TFormAboutSplash::SetVersionInfoSource([info](const std::string&, TFixedFileInfo& out) {
            out = info;
            return true;
        });
    }
    // Shows a box and returns the version and build label texts.
    static std::pair<QString, QString> shownTexts()
    {
        TFormAboutBox box;
        box.show();
        return {box.LabelVersion->text(), box.LabelBuild->text()};
    }
};

TEST_F(AboutBoxTest, VersionTextsOfReleaseAndPreReleaseBuilds)
{
    useVersion(version(3, 0, 4, 3, false));
    EXPECT_EQ(shownTexts(), std::make_pair(QString("Version 3.0.4"), QString()));
    useVersion(version(3, 0, 4, 3, true));
    EXPECT_EQ(shownTexts(), std::make_pair(QString("Version 3.0.4"), QString("BETA 3")));
    useVersion(version(3, 12, 0, 7, false));
    EXPECT_EQ(shownTexts(), std::make_pair(QString("Version 3.12.0"), QString()));
    useVersion(version(65535, 65535, 65535, 65535, true));
    EXPECT_EQ(shownTexts(), std::make_pair(QString("Version 65535.65535.65535"), QString("BETA 65535")));
}

TEST_F(AboutBoxTest, TextsAreReadAnewAtEveryShow)
{
    useVersion(version(1, 2, 3, 4, false));
    TFormAboutBox box;
    box.show();
    EXPECT_EQ(box.LabelVersion->text(), "Version 1.2.3");
    box.hide();
    useVersion(version(1, 2, 5, 9, true));
    box.show();
    EXPECT_EQ(box.LabelVersion->text(), "Version 1.2.5");
    EXPECT_EQ(box.LabelBuild->text(), "BETA 9");
}

TEST_F(AboutBoxTest, MissingVersionInformationShowsZeros)
{
    std::string askedFor;
    TFormAboutSplash::SetVersionInfoSource([&askedFor](const std::string& file, TFixedFileInfo&) {
        askedFor = file;
        return false;
    });
    EXPECT_EQ(shownTexts(), std::make_pair(QString("Version 0.0.0"), QString()));
    EXPECT_EQ(askedFor, QCoreApplication::applicationFilePath().toStdString());

    TFixedFileInfo untouched = version(7, 7, 7, 7, true);
    TFormAboutSplash::ReadFixedFileInfo("x", untouched);
    EXPECT_EQ(untouched.FileVersionMS, version(7, 7, 7, 7, true).FileVersionMS);
}

TEST_F(AboutBoxTest, DefaultSourceIsTheBuildsVersion)
{
    TFixedFileInfo info;
    TFormAboutSplash::ReadFixedFileInfo(QCoreApplication::applicationFilePath().toStdString(), info);
    const TFixedFileInfo built = BuildFixedFileInfo();
    EXPECT_EQ(info.FileVersionMS, built.FileVersionMS);
    EXPECT_EQ(info.FileVersionLS, built.FileVersionLS);
    EXPECT_EQ(info.FileFlags, built.FileFlags);
}

TEST_F(AboutBoxTest, TitlesShowTheApplicationTitle)
{
    TFormAboutBox box;
    EXPECT_EQ(FormAboutBox, &box);
    EXPECT_EQ(box.LabelTitle->text(), "Title");
    box.show();
    EXPECT_EQ(box.windowTitle(), " About Velmora Data Logger");
    EXPECT_EQ(box.LabelTitle->text(), "Velmora Data Logger");
    EXPECT_TRUE(box.LabelTitle->isVisible());
    EXPECT_EQ(box.LabelCopyright->text().isEmpty(), false);
    EXPECT_TRUE(box.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(box.windowFlags() & Qt::WindowCloseButtonHint);
}

TEST_F(AboutBoxTest, AClickOnTheFormOrAnyPartClosesIt)
{
    const std::vector<std::string> parts{"ImageLogo",      "LabelVersion", "LabelBuild",
                                         "LabelCopyright", "LabelTitle",   "form"};
    for (const std::string& part : parts) {
        TFormAboutBox box;
        box.show();
        ASSERT_TRUE(box.isVisible());
        if (part == "form")
            QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(8, 100)); // the strip left of the logo
        else
            QTest::mouseClick(box.findChild<QWidget*>(QString::fromStdString(part)), Qt::LeftButton);
        EXPECT_FALSE(box.isVisible()) << part;
        EXPECT_EQ(box.result(), QDialog::Rejected) << part;
    }
}

TEST_F(AboutBoxTest, ClickEndsTheModalDisplay)
{
    TFormAboutBox box;
    bool timedOut = false;
    QTimer::singleShot(0, &box, [&box] { QTest::mouseClick(box.LabelVersion, Qt::LeftButton); });
    QTimer::singleShot(5000, &box, [&box, &timedOut] {
        timedOut = true;
        box.done(QDialog::Accepted);
    });
    EXPECT_EQ(box.exec(), QDialog::Rejected);
    EXPECT_FALSE(timedOut);
    EXPECT_FALSE(box.isVisible());
}

} // namespace
