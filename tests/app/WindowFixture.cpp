#include "WindowFixture.h"

#include "app/Beep.h"
#include "base/ErrorReport.h"
#include "support/EventLoopHelper.h"
#include "app/SaveDialog.h"
#include "sensor/SensorObjects.h"
#include "settings/SettingsFile.h"
#include "settings/SettingParams.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <limits>
#include <sys/stat.h>

void WindowTest::SetUp()
{
    emptyPortList = dir.file("tty");
    ::mkdir(emptyPortList.c_str(), 0755);
    previousConfigHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(userConfigFolder()));
    pty = std::make_unique<PtyPair>();
    SetApplicationErrorReport([this](const std::exception& e) { reports.emplace_back(e.what()); });
    SetBeepFunction([this](int hz, int ms) { beeps.emplace_back(hz, ms); });
    TSaveDialog::SetExecuteFunction([this](const TSaveDialog& dialog) {
        seenDialogs.push_back({dialog.objectName(), dialog.DefaultExt(), dialog.Filter(), dialog.Options()});
        if (saveAnswers.empty())
            return QString();
        QString answer = saveAnswers.front();
        saveAnswers.erase(saveAnswers.begin());
        return answer;
    });
}

void WindowTest::TearDown()
{
    form.reset();
    sim.reset();
    pty.reset();
    TSaveDialog::SetExecuteFunction({});
    SetBeepFunction({});
    SetApplicationErrorReport({});
    previousConfigHome.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", previousConfigHome);
}

void WindowTest::storePort(const std::string& port, bool reconnect)
{
    TSettingParams settings(dir.file(SettingsFileBase), TFormMain::SettingsRootPath);
    settings.SetPortListRoot(emptyPortList);
    settings.ComPort = port;
    settings.Reconnect = reconnect;
    ASSERT_EQ(settings.Save(), 0);
    portStored = true;
}

void WindowTest::startSimulator(bool silent, double linesPerSecond)
{
    SimulatorOptions options;
    options.linesPerSecond = linesPerSecond;
    sim = std::make_unique<SensorSimulator>(pty->masterFd(), options);
    sim->setSilent(silent);
    sim->start();
}

void WindowTest::createForm(int waitMs, const std::string& executableFolder)
{
    if (!portStored)
        storePort(pty->slavePath());
    const QString folder = QString::fromStdString(executableFolder.empty() ? dir.path() : executableFolder);
    form = std::make_unique<TFormMain>(executableFolder.empty() ? TFormMainSetup{folder, emptyPortList, {}}
                                                                : TFormMainSetup{{}, emptyPortList, folder});
    if (form->Sensor())
        form->Sensor()->setWaitLimits(waitMs, waitMs);
    form->show();
}

void WindowTest::sendLine(const std::string& line)
{
    if (sim)
        sim->inject(line);
    else
        pty->write("\n" + line + "\r");
}

void WindowTest::createFormWithLine(const std::string& line)
{
    startSimulator(true);
    createForm();
    if (form->Sensor())
        form->Sensor()->setStalenessLimit(std::numeric_limits<int32_t>::max());
    sendLine(line);
}

QLabel* WindowTest::panel(const char* name) const
{
    return find<QLabel>(name);
}

QString WindowTest::panelText(const char* name) const
{
    return panel(name)->text();
}

QAction* WindowTest::action(const char* name) const
{
    return find<QAction>(name);
}

QMenu* WindowTest::menu(const char* name) const
{
    return find<QMenu>(name);
}

QPushButton* WindowTest::button(const char* name) const
{
    return find<QPushButton>(name);
}

QLineEdit* WindowTest::edit(const char* name) const
{
    return find<QLineEdit>(name);
}

QGroupBox* WindowTest::box(const char* name) const
{
    return find<QGroupBox>(name);
}

bool WindowTest::waitForPanel(const char* name, const QString& text, int timeoutMs) const
{
    QLabel* label = panel(name);
    return runEventsUntil([&] { return label->text() == text; }, timeoutMs);
}

void WindowTest::whenModal(const std::function<void(QWidget* modal)>& action)
{
    auto* poll = new QTimer(form.get());
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, action] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            action(modal);
        }
    });
    poll->start();
    QTimer::singleShot(10000, form.get(), [] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            ADD_FAILURE() << "a modal window was left open";
            modal->close();
        }
    });
}
