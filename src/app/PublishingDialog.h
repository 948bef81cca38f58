#pragma once
#include "publish/PublishSettings.h"

#include <QDialog>
#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class TConnectionTest;

// Comms > Publishing...: the MQTT broker, topics and credentials. OK checks the entries (the interval as
// the window's other intervals) and keeps the dialog open, with a message, while one is not acceptable.
// "Test connection" tries the entries without closing the dialog. The CA, certificate and key files have
// browse buttons.
class TPublishingDialog : public QDialog {
    Q_OBJECT
public:
    TPublishingDialog(const TPublishSettings& settings, const std::string& portName, QWidget* parent = nullptr);
    ~TPublishingDialog() override;

    // The entries; valid after accept().
    const TPublishSettings& settings() const { return FSettings; }
    // Why the entries cannot be used ("" when they can); fills settings() when they can.
    QString check();

    QLineEdit* hostEdit() const { return FHost; }
    QLineEdit* portEdit() const { return FPort; }
    QLineEdit* prefixEdit() const { return FPrefix; }
    QLineEdit* intervalEdit() const { return FInterval; }
    QLineEdit* passwordEdit() const { return FPassword; }
    QCheckBox* enabledBox() const { return FEnabled; }
    QPushButton* testButton() const { return FTest; }
    QLabel* testResult() const { return FTestResult; }
    QLineEdit* caFileEdit() const { return FCaFile; }
    QLineEdit* certFileEdit() const { return FCertFile; }
    QLineEdit* keyFileEdit() const { return FKeyFile; }

    // Asks for the file of a browse button (empty: cancelled): the dialog's title and the folder to start in.
    // By default a file dialog.
    using TFileChooser = std::function<QString(const QString& title, const QString& folder)>;
    void setFileChooser(TFileChooser chooser) { FFileChooser = std::move(chooser); }

public slots:
    void accept() override;
    void testConnection();

private:
    TPublishSettings FSettings;
    std::string FPortName;
    QCheckBox* FEnabled;
    QLineEdit *FHost, *FPort, *FClientId, *FPrefix, *FInterval;
    QComboBox* FQos;
    QCheckBox* FTls;
    QLineEdit *FCaFile, *FCertFile, *FKeyFile, *FUser, *FPassword;
    QCheckBox* FDiscovery;
    QPushButton* FTest;
    QLabel* FTestResult;
    TConnectionTest* FConnectionTest;
    TFileChooser FFileChooser;

    // A line edit with a browse button that fills it with a chosen file.
    QLineEdit* fileLine(QFormLayout* form, const QString& label, const std::string& value,
                        const QString& placeholder, const QString& name);
    void browse(QLineEdit* edit, const QString& title);
    // The test's result, the dialog grown to show it whole.
    void showTestResult(const QString& result);
    // Grows the dialog to what its content asks at its width.
    void fitHeight();
};
