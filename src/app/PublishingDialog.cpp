#include "app/PublishingDialog.h"

#include "publish/ConnectionTest.h"
#include "record/Conversions.h"
#include "record/ValidateLib.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

std::string entry(const QLineEdit* edit)
{
    return edit->text().trimmed().toStdString();
}

} // namespace

TPublishingDialog::TPublishingDialog(const TPublishSettings& settings, const std::string& portName, QWidget* parent)
    : QDialog(parent), FSettings(settings), FPortName(portName)
{
    setWindowTitle(tr("Publishing"));
    setObjectName(QStringLiteral("PublishingDialog"));
    auto* form = new QFormLayout;
    const auto line = [&](const QString& label, const std::string& value, const QString& placeholder = {}) {
        auto* edit = new QLineEdit(text(value), this);
        edit->setPlaceholderText(placeholder);
        form->addRow(label, edit);
        return edit;
    };
    FEnabled = new QCheckBox(tr("Publish readings to an MQTT broker"), this);
    FEnabled->setChecked(settings.Enabled);
    form->addRow(FEnabled);
    FHost = line(tr("Broker host:"), settings.Host);
    FPort =
        line(tr("Port:"), settings.Port ? std::to_string(settings.Port) : std::string(), tr("1883, or 8883 with TLS"));
    FClientId = line(tr("Client id:"), settings.ClientId, text(EffectiveClientId({}, portName)));
    FPrefix = line(tr("Topic prefix:"), settings.TopicPrefix, tr("velmora/<client id>"));
    FInterval = line(tr("Publish interval (s):"), std::to_string(settings.IntervalSeconds));
    FQos = new QComboBox(this);
    FQos->addItems({tr("0: at most once"), tr("1: at least once")});
    FQos->setCurrentIndex(settings.QoS == 0 ? 0 : 1);
    form->addRow(tr("QoS:"), FQos);
    FTls = new QCheckBox(tr("TLS"), this);
    FTls->setChecked(settings.Tls);
    form->addRow(FTls);
    FCaFile = line(tr("CA file:"), settings.CaFile, tr("the system's authorities"));
    FCertFile = line(tr("Client certificate:"), settings.CertFile, tr("optional"));
    FKeyFile = line(tr("Client key:"), settings.KeyFile, tr("optional"));
    FUser = line(tr("User name:"), settings.UserName);
    FPassword = line(tr("Password:"), settings.Password);
    FPassword->setEchoMode(QLineEdit::Password);
    FDiscovery = new QCheckBox(tr("Home Assistant discovery"), this);
    FDiscovery->setChecked(settings.HomeAssistant);
    form->addRow(FDiscovery);

    FTest = new QPushButton(tr("Test connection"), this);
    FTestResult = new QLabel(this);
    FTestResult->setWordWrap(true);
    form->addRow(FTest, FTestResult);
    FConnectionTest = new TConnectionTest(this);
    connect(FTest, &QPushButton::clicked, this, &TPublishingDialog::testConnection);
    connect(FConnectionTest, &TConnectionTest::finished, this, [this](bool, const QString& result) {
        FTestResult->setText(result);
        FTest->setEnabled(true);
    });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &TPublishingDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TPublishingDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

TPublishingDialog::~TPublishingDialog() = default;

QString TPublishingDialog::check()
{
    TPublishSettings s;
    s.Enabled = FEnabled->isChecked();
    s.Host = entry(FHost);
    const std::string port = entry(FPort);
    if (!port.empty()) {
        if (IsInvalidIntegerMin(port, 1) || port.size() > 5 || StrToInt(port) > 65535)
            return tr("The port must be a number from 1 to 65535, or empty for the default.");
        s.Port = StrToInt(port);
    }
    s.ClientId = entry(FClientId);
    s.TopicPrefix = entry(FPrefix);
    const std::string interval = entry(FInterval);
    if (interval.size() > 9 || IsInvalidIntegerMin(interval, 1))
        return tr("The publish interval must be a whole number of seconds, at least 1.");
    s.IntervalSeconds = StrToInt(interval);
    s.QoS = FQos->currentIndex();
    s.Tls = FTls->isChecked();
    s.CaFile = entry(FCaFile);
    s.CertFile = entry(FCertFile);
    s.KeyFile = entry(FKeyFile);
    s.UserName = entry(FUser);
    s.Password = FPassword->text().toStdString();
    s.HomeAssistant = FDiscovery->isChecked();
    // Switched off, the entries are kept as they are, to be switched on later.
    if (s.Enabled) {
        const std::string problem = PublishSettingsProblem(s);
        if (!problem.empty())
            return text(problem);
    }
    FSettings = s;
    return {};
}

void TPublishingDialog::accept()
{
    const QString problem = check();
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, windowTitle(), problem);
        return;
    }
    QDialog::accept();
}

void TPublishingDialog::testConnection()
{
    const QString problem = check();
    if (!problem.isEmpty()) {
        FTestResult->setText(problem);
        return;
    }
    FTest->setEnabled(false);
    FTestResult->setText(tr("Connecting..."));
    FConnectionTest->start(FSettings, FPortName);
}
