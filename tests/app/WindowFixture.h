#pragma once
#include "app/Main.h"
#include "support/PtyPair.h"
#include "tools/SensorSimulator.h"
#include "support/TempDir.h"

#include <QString>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QGroupBox;

// A main window in a temporary folder, with the error report, the beep and the save dialogs recorded,
// and a sensor simulator on a pseudo-terminal.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes SensorSettings.xml naming the port (and Reconnect Automatically on or off).
    void storePort(const std::string& port, bool reconnect = false);
    // Starts the simulator on the pseudo-terminal (silent: answers nothing until told).
    void startSimulator(bool silent = false, double linesPerSecond = 8);
    // Creates the window on the stored port (the pseudo-terminal unless storePort was called), with
    // sensor waits of waitMs. Given the executable's folder, the window looks for its settings as the
    // installed program does: there, else in userConfigFolder().
    void createForm(int waitMs = 300, const std::string& executableFolder = {});
    std::string userConfigFolder() const { return dir.file("config"); }
    // The window on the simulator, with a sensor that has sent `line` (never stale), shown in the panels.
    void createFormWithLine(const std::string& line);
    // Sends one framed line from the sensor.
    void sendLine(const std::string& line);

    template <typename T> T* find(const char* name) const
    {
        T* child = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    QLabel* panel(const char* name) const;
    QString panelText(const char* name) const;
    QAction* action(const char* name) const;
    QMenu* menu(const char* name) const;
    QPushButton* button(const char* name) const;
    QLineEdit* edit(const char* name) const;
    QGroupBox* box(const char* name) const;
    bool waitForPanel(const char* name, const QString& text, int timeoutMs = 3000) const;
    // Runs `action` on the modal window once one is active (looked for from the event loop). A modal
    // window still open 10 s later is closed as a failure, so a broken answer cannot hang the test.
    void whenModal(const std::function<void(QWidget* modal)>& action);

    TempDir dir;
    std::string emptyPortList; // a readable, empty tty class folder
    std::unique_ptr<PtyPair> pty;
    std::unique_ptr<SensorSimulator> sim;
    std::unique_ptr<TFormMain> form;
    bool portStored = false;
    QByteArray previousConfigHome;

    std::vector<std::string> reports;
    std::vector<std::pair<int, int>> beeps;
    // Save dialogs: each Execute takes the next answer (empty: Cancel) and records the dialog's settings.
    std::vector<QString> saveAnswers;
    struct SeenDialog {
        QString name, defaultExt, filter;
        int options;
    };
    std::vector<SeenDialog> seenDialogs;
};
