#include "SensorSettings.h"
#include "ui_SensorSettings.h"

#include "ErrorReport.h"
#include "PortList.h"
#include "SettingTexts.h"

#include <QKeyEvent>
#include <utility>

namespace {
TFormSensorSettings::TPortLister& portLister()
{
    static TFormSensorSettings::TPortLister lister;
    return lister;
}

void listPorts(std::vector<std::string>& ports)
{
    if (const auto& lister = portLister())
        lister(ports);
    else
        ListSerialPorts(ports);
}

QString toQt(const std::string& text) { return QString::fromLocal8Bit(text.data(), qsizetype(text.size())); }
} // namespace

TFormSensorSettings::TPortLister TFormSensorSettings::SetPortLister(TPortLister Lister)
{
    return std::exchange(portLister(), std::move(Lister));
}

TFormSensorSettings::TFormSensorSettings(QWidget* Owner)
    : QDialog(Owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , ui(std::make_unique<Ui::FormSensorSettings>())
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
}

TFormSensorSettings::~TFormSensorSettings() = default;

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
    for (QWidget* control : {static_cast<QWidget*>(btnOK), static_cast<QWidget*>(btnCancel),
                             static_cast<QWidget*>(cbPort), static_cast<QWidget*>(edtBaudRate),
                             static_cast<QWidget*>(edtDataBits), static_cast<QWidget*>(edtStopBits),
                             static_cast<QWidget*>(edtParity), static_cast<QWidget*>(edtFlowControl)})
        control->setEnabled(false);
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
