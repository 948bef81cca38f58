#include "app/SensorSettings.h"
#include "ui_SensorSettings.h"

#include "base/ErrorReport.h"
#include "serial/PortList.h"
#include "serial/SettingTexts.h"

#include <QFileSystemWatcher>
#include <QKeyEvent>
#include <QTimer>
#include <exception>
#include <utility>

namespace {
constexpr const char* SystemPortListRoot = "/sys/class/tty";
// Device nodes come and go here; sysfs folders do not report changes to a watcher.
constexpr const char* DeviceFolder = "/dev";
// A plug-in makes a burst of changes (device node, class entry, by-id links): read the list once after it.
constexpr int RefreshDelayMs = 300;
// Where no folder can be watched, the list is read this often.
constexpr int RefreshPollMs = 2000;

TFormSensorSettings::TPortLister& portLister()
{
    static TFormSensorSettings::TPortLister lister;
    return lister;
}

std::string& portListRoot()
{
    static std::string root = SystemPortListRoot;
    return root;
}

void listPorts(std::vector<std::string>& ports)
{
    if (const auto& lister = portLister())
        lister(ports);
    else
        ListSerialPorts(ports, portListRoot());
}

QString toQt(const std::string& text)
{
    return QString::fromLocal8Bit(text.data(), qsizetype(text.size()));
}
} // namespace

TFormSensorSettings::TPortLister TFormSensorSettings::SetPortLister(TPortLister Lister)
{
    return std::exchange(portLister(), std::move(Lister));
}

std::string TFormSensorSettings::SetPortListRoot(std::string Root)
{
    return std::exchange(portListRoot(), Root.empty() ? std::string(SystemPortListRoot) : std::move(Root));
}

TFormSensorSettings::TFormSensorSettings(QWidget* Owner)
    : QDialog(Owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      ui(std::make_unique<Ui::FormSensorSettings>())
{
    ui->setupUi(this);
    cbPort = ui->cbPort;
    btnOK = ui->btnOK;
    btnCancel = ui->btnCancel;
    GroupBoxSensorSettings = ui->GroupBoxSensorSettings;
    lblPort = ui->lblPort;
    lblBaudRate = ui->lblBaudRate;
    lblDataBits = ui->lblDataBits;
    lblStopBits = ui->lblStopBits;
    lblParity = ui->lblParity;
    lblFlowControl = ui->lblFlowControl;
    edtBaudRate = ui->edtBaudRate;
    edtDataBits = ui->edtDataBits;
    edtStopBits = ui->edtStopBits;
    edtParity = ui->edtParity;
    edtFlowControl = ui->edtFlowControl;

    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);
    setFixedSize(231, 216);
    connect(btnOK, &QPushButton::clicked, this, &TFormSensorSettings::btnOKClick);

    try {
        FormCreate();
    } catch (...) {
        ReportCurrentException();
    }
    watchPortList();
}

TFormSensorSettings::~TFormSensorSettings() = default;

void TFormSensorSettings::watchPortList()
{
    FRefreshTimer = new QTimer(this);
    FRefreshTimer->setSingleShot(true);
    FRefreshTimer->setInterval(RefreshDelayMs);
    connect(FRefreshTimer, &QTimer::timeout, this, &TFormSensorSettings::RefreshPortList);

    QStringList folders{toQt(portListRoot())};
    if (portListRoot() == SystemPortListRoot)
        folders << QString::fromLatin1(DeviceFolder);
    FPortWatcher = new QFileSystemWatcher(this);
    if (FPortWatcher->addPaths(folders).size() == folders.size()) {
        FRefreshTimer->setSingleShot(false);
        FRefreshTimer->setInterval(RefreshPollMs);
        FRefreshTimer->start();
        return;
    }
    connect(FPortWatcher, &QFileSystemWatcher::directoryChanged, FRefreshTimer, [this] {
        if (!FRefreshTimer->isActive())
            FRefreshTimer->start();
    });
}

void TFormSensorSettings::RefreshPortList()
{
    std::vector<std::string> ports;
    try {
        listPorts(ports);
    } catch (const std::exception&) {
        return; // reported when the dialog opened, or a passing failure: keep what is shown
    }
    QStringList items;
    for (const std::string& port : ports)
        items << toQt(port);
    const QString configured = toQt(FComPort);
    const bool addConfigured = !FComPort.empty() && !items.contains(configured, Qt::CaseInsensitive);
    if (addConfigured)
        items << configured;

    QStringList shown;
    for (int i = 0; i < cbPort->count(); ++i)
        shown << cbPort->itemText(i);
    if (items == shown)
        return;

    const QString selected = cbPort->currentIndex() >= 0 ? cbPort->currentText() : QString();
    cbPort->clear();
    cbPort->addItems(items);
    FAddedPortIndex = addConfigured ? cbPort->count() - 1 : -1;
    const int index = selected.isEmpty() ? -1 : cbPort->findText(selected, Qt::MatchFixedString);
    if (index >= 0)
        cbPort->setCurrentIndex(index);
    else if (!selected.isEmpty())
        selectPort(FComPort); // the chosen adapter went: back to the configured port
}

void TFormSensorSettings::FormCreate()
{
    {
        std::vector<std::string> ports;
        listPorts(ports);
        for (const std::string& port : ports)
            cbPort->addItem(toQt(port));
    }
    selectPort(FComPort);
    edtBaudRate->setText(toQt(BaudRateToText(br57600)));
    edtDataBits->setText(toQt(DataBitsToText(dbEight)));
    edtStopBits->setText(toQt(StopBitsToText(sbOneStopBit)));
    edtParity->setText(toQt(ParityToText(prNone)));
    edtFlowControl->setText(toQt(FlowControlToText(fcSoftware)));
}

void TFormSensorSettings::selectPort(const std::string& PortName)
{
    // A fixed-string match ignores letter case; an empty name matches no port entry.
    const int index = PortName.empty() ? -1 : cbPort->findText(toQt(PortName), Qt::MatchFixedString);
    cbPort->setCurrentIndex(index);
}

void TFormSensorSettings::SetComPort(const std::string& PortName)
{
    FComPort = PortName;
    if (FAddedPortIndex >= 0) {
        cbPort->removeItem(FAddedPortIndex);
        FAddedPortIndex = -1;
    }
    selectPort(PortName);
    if (cbPort->currentIndex() < 0 && !PortName.empty()) {
        cbPort->addItem(toQt(PortName));
        FAddedPortIndex = cbPort->count() - 1;
        cbPort->setCurrentIndex(FAddedPortIndex);
    }
}

void TFormSensorSettings::btnOKClick()
{
    for (QWidget* control :
         {static_cast<QWidget*>(btnOK), static_cast<QWidget*>(btnCancel), static_cast<QWidget*>(cbPort),
          static_cast<QWidget*>(edtBaudRate), static_cast<QWidget*>(edtDataBits), static_cast<QWidget*>(edtStopBits),
          static_cast<QWidget*>(edtParity), static_cast<QWidget*>(edtFlowControl)})
        control->setEnabled(false);
    FRefreshTimer->stop();
    FPortWatcher->disconnect();
    FComPort = cbPort->currentIndex() >= 0 ? cbPort->currentText().toLocal8Bit().toStdString() : std::string();
    accept();
}

void TFormSensorSettings::keyPressEvent(QKeyEvent* event)
{
    // Neither button answers Esc (nor Enter: both have autoDefault off).
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}
