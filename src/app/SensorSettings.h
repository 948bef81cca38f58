#pragma once
#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QFileSystemWatcher;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
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
// While the dialog exists it watches the port-list folder (and /dev for the system's list), so adapters
// plugged in or removed appear in or leave the list; the selection stays while its port is listed.
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
    // Test seam: the tty class folder that new dialogs list (unless a lister is set) and watch. An empty
    // name restores /sys/class/tty. Returns the previous folder.
    static std::string SetPortListRoot(std::string Root);

    // Reads the port list again and shows it, keeping the selection where its port is still listed and
    // the port given to SetComPort in any case. A list that cannot be read now leaves the shown one.
    void RefreshPortList();

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
    void watchPortList();

    std::unique_ptr<Ui::FormSensorSettings> ui;
    int FAddedPortIndex = -1; // the entry SetComPort appended, if any
    QFileSystemWatcher* FPortWatcher = nullptr;
    QTimer* FRefreshTimer = nullptr; // gathers the bursts of changes a plug-in makes
};
