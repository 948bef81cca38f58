#pragma once
#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
namespace Ui {
class FormSensorSettings;
}

// The comms settings dialog: a pick-only list of the serial ports present and the sensor's fixed line
// settings, read-only. Usage:
//     TFormSensorSettings dialog(owner);        // runs FormCreate
//     dialog.SetComPort(currentPort);
//     const bool ok = dialog.exec() == QDialog::Accepted;
//     const std::string chosen = dialog.FComPort;
// A port list that cannot be read is reported through ReportCurrentException() while the dialog is
// constructed; the dialog then opens with an empty list and empty read-only fields.
class TFormSensorSettings : public QDialog {
    Q_OBJECT
public:
    // Fills Ports with the names to offer, in display order; may raise EComPort.
    using TPortLister = std::function<void(std::vector<std::string>& Ports)>;

    explicit TFormSensorSettings(QWidget* Owner = nullptr);
    ~TFormSensorSettings() override;

    // FComPort := PortName and selects the first entry equal to it ignoring letter case. A non-empty name
    // that is not listed (a pseudo-terminal, a by-id path, an adapter unplugged for a moment) is added at
    // the end of the list and selected, so that OK keeps it.
    void SetComPort(const std::string& PortName);

    // The name given to SetComPort; after OK, the name chosen (empty when nothing was selected).
    std::string FComPort;

    // Test seam: the source of the port list used by new dialogs. An empty function restores
    // ListSerialPorts over /sys/class/tty. Returns the previous lister.
    static TPortLister SetPortLister(TPortLister Lister);

    // Components, owned by the dialog.
    QComboBox* cbPort = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;
    QGroupBox* GroupBoxSensorSettings = nullptr;
    QLabel* lblPort = nullptr;
    QLabel* lblBaudRate = nullptr;
    QLabel* lblDataBits = nullptr;
    QLabel* lblStopBits = nullptr;
    QLabel* lblParity = nullptr;
    QLabel* lblFlowControl = nullptr;
    QLineEdit* edtBaudRate = nullptr;
    QLineEdit* edtDataBits = nullptr;
    QLineEdit* edtStopBits = nullptr;
    QLineEdit* edtParity = nullptr;
    QLineEdit* edtFlowControl = nullptr;

public slots:
    // Disables the controls, takes the selected name into FComPort and accepts the dialog.
    void btnOKClick();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FormCreate();
    void selectPort(const std::string& PortName);

    std::unique_ptr<Ui::FormSensorSettings> ui;
    int FAddedPortIndex = -1; // the entry SetComPort appended, if any
};
