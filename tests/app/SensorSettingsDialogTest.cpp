#include "app/SensorSettings.h"

#include "base/ErrorReport.h"
#include "serial/EComPort.h"
#include "serial/PortList.h"
#include "support/EventLoopHelper.h"
#include "support/FakeTtyTree.h"
#include "support/TempDir.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <cerrno>
#include <gtest/gtest.h>

namespace {

QStringList entries(const QComboBox& box)
{
    QStringList items;
    for (int i = 0; i < box.count(); ++i)
        items << box.itemText(i);
    return items;
}

class SensorSettingsDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tree.addPort("COM1");
        tree.addPort("COM2");
        tree.addPort("COM10");
        tree.addPort("tty1", false); // no device behind it: not a serial port
        useTree(tree.root());
        SetApplicationErrorReport([this](const std::exception& e) { reports.push_back(e.what()); });
    }
    void TearDown() override
    {
        TFormSensorSettings::SetPortLister({});
        TFormSensorSettings::SetPortListRoot({});
        SetApplicationErrorReport({});
    }
    static void useTree(const std::string& root) { TFormSensorSettings::SetPortListRoot(root); }
    static QStringList fields(const TFormSensorSettings& d)
    {
        return {d.edtBaudRate->text(), d.edtDataBits->text(), d.edtStopBits->text(), d.edtParity->text(),
                d.edtFlowControl->text()};
    }

    TempDir dir;
    FakeTtyTree tree{dir.file("class/tty")};
    std::vector<std::string> reports;
};

TEST_F(SensorSettingsDialogTest, ListsPortsInEnumerationOrderWithNothingSelected)
{
    TFormSensorSettings dialog;
    EXPECT_EQ(entries(*dialog.cbPort), (QStringList{"COM1", "COM10", "COM2"}));
    EXPECT_FALSE(dialog.cbPort->isEditable());
    EXPECT_EQ(dialog.cbPort->currentIndex(), -1);
    EXPECT_EQ(dialog.FComPort, "");
    EXPECT_EQ(fields(dialog), (QStringList{"57600", "8", "1", "None", "Software"}));
    for (QLineEdit* field :
         {dialog.edtBaudRate, dialog.edtDataBits, dialog.edtStopBits, dialog.edtParity, dialog.edtFlowControl})
        EXPECT_TRUE(field->isReadOnly());
    EXPECT_EQ(dialog.windowTitle(), "FormSensorSettings");
    EXPECT_TRUE(reports.empty());
}

TEST_F(SensorSettingsDialogTest, SelectsTheCurrentPortIgnoringCase)
{
    TFormSensorSettings dialog;
    dialog.SetComPort("com10");
    EXPECT_EQ(dialog.FComPort, "com10");
    EXPECT_EQ(dialog.cbPort->currentText(), "COM10");
    EXPECT_EQ(dialog.cbPort->count(), 3);
}

TEST_F(SensorSettingsDialogTest, KeepsACurrentPortThatIsNotListed)
{
    TFormSensorSettings dialog;
    dialog.SetComPort("/dev/pts/3");
    EXPECT_EQ(entries(*dialog.cbPort), (QStringList{"COM1", "COM10", "COM2", "/dev/pts/3"}));
    EXPECT_EQ(dialog.cbPort->currentText(), "/dev/pts/3");

    // A second call replaces the added entry instead of piling names up.
    dialog.SetComPort("COM2");
    EXPECT_EQ(entries(*dialog.cbPort), (QStringList{"COM1", "COM10", "COM2"}));
    EXPECT_EQ(dialog.cbPort->currentText(), "COM2");

    dialog.SetComPort("");
    EXPECT_EQ(dialog.cbPort->count(), 3);
    EXPECT_EQ(dialog.cbPort->currentIndex(), -1);
}

TEST_F(SensorSettingsDialogTest, OkOnAnUnlistedPortKeepsIt)
{
    TFormSensorSettings dialog;
    dialog.SetComPort("/dev/serial/by-id/usb-sensor-if00");
    dialog.show();
    QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.FComPort, "/dev/serial/by-id/usb-sensor-if00");
}

TEST_F(SensorSettingsDialogTest, OkTakesTheChosenNameAndLocksTheControls)
{
    TFormSensorSettings dialog;
    dialog.SetComPort("COM1");
    dialog.show();
    dialog.cbPort->setCurrentIndex(2);
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    QTest::mouseClick(dialog.btnOK, Qt::LeftButton);

    EXPECT_EQ(accepted.count(), 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.FComPort, "COM2");
    for (QWidget* control : {static_cast<QWidget*>(dialog.btnOK), static_cast<QWidget*>(dialog.btnCancel),
                             static_cast<QWidget*>(dialog.cbPort), static_cast<QWidget*>(dialog.edtBaudRate),
                             static_cast<QWidget*>(dialog.edtDataBits), static_cast<QWidget*>(dialog.edtStopBits),
                             static_cast<QWidget*>(dialog.edtParity), static_cast<QWidget*>(dialog.edtFlowControl)})
        EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
}

TEST_F(SensorSettingsDialogTest, CancelKeepsTheNamePassedIn)
{
    TFormSensorSettings dialog;
    dialog.SetComPort("com1");
    dialog.show();
    dialog.cbPort->setCurrentIndex(1);
    QTest::mouseClick(dialog.btnCancel, Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.FComPort, "com1");
    EXPECT_TRUE(dialog.cbPort->isEnabled());
}

TEST_F(SensorSettingsDialogTest, EnterAndEscDoNotCloseTheDialog)
{
    TFormSensorSettings dialog;
    dialog.SetComPort("COM1");
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.FComPort, "COM1");
}

TEST_F(SensorSettingsDialogTest, UnreadablePortListIsReportedAndTheDialogStillOpens)
{
    useTree(dir.file("missing"));
    TFormSensorSettings dialog;
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], EComPort(ComErrorCode::RegistryError, ENOENT).what());
    EXPECT_EQ(dialog.cbPort->count(), 0);
    EXPECT_EQ(fields(dialog), (QStringList{"", "", "", "", ""}));

    dialog.SetComPort("COM3"); // the configured port is still offered
    dialog.show();
    QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
    EXPECT_EQ(dialog.FComPort, "COM3");
}

TEST_F(SensorSettingsDialogTest, ListFollowsAdaptersPluggedInAndRemovedWhileOpen)
{
    TFormSensorSettings dialog;
    dialog.SetComPort("COM2");
    dialog.cbPort->setCurrentIndex(1); // the operator picks COM10
    const struct {
        bool plugIn;
        const char* port;
        QStringList listed;
        QString chosen;
    } steps[] = {
        {true, "ttyUSB0", {"COM1", "COM10", "COM2", "ttyUSB0"}, "COM10"},
        {false, "COM10", {"COM1", "COM2", "ttyUSB0"}, "COM2"}, // the chosen adapter goes: back to the configured port
        {false, "COM2", {"COM1", "ttyUSB0", "COM2"}, "COM2"},  // the configured port stays offered while away
        {true, "COM2", {"COM1", "COM2", "ttyUSB0"}, "COM2"},
    };
    for (const auto& step : steps) {
        step.plugIn ? tree.addPort(step.port) : tree.removePort(step.port);
        ASSERT_TRUE(runEventsUntil([&] { return entries(*dialog.cbPort) == step.listed; }, 20000)) << step.port;
        EXPECT_EQ(dialog.cbPort->currentText(), step.chosen);
    }
}

TEST_F(SensorSettingsDialogTest, EmptyListAndNoCurrentPortGivesAnEmptyName)
{
    TFormSensorSettings::SetPortLister([](std::vector<std::string>& ports) { ports.clear(); });
    TFormSensorSettings dialog;
    dialog.SetComPort("");
    dialog.show();
    QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.FComPort, "");
}

} // namespace
