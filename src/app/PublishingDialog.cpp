#include "app/PublishingDialog.h"

#include "chart/DialogFolders.h"
#include "publish/ConnectionTest.h"
#include "record/Conversions.h"
#include "record/ValidateLib.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

std::string entry(const QLineEdit* edit)
{
    return edit->text().trimmed().toStdString();
}

// The file dialogs' kind for certificates and keys (DialogFolders).
const QString CertificateKind = QStringLiteral("certificate");

// Wide enough for its placeholder text, and for a path of some length.
void fitWidth(QLineEdit* edit)
{
    const QFontMetrics metrics = edit->fontMetrics();
    const int text = std::max(metrics.horizontalAdvance(edit->placeholderText()), metrics.averageCharWidth() * 36);
    const QMargins margins = edit->textMargins() + edit->contentsMargins();
    edit->setMinimumWidth(text + margins.left() + margins.right() + 2 * metrics.averageCharWidth());
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
        fitWidth(edit);
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
    FCaFile =
        fileLine(form, tr("CA file:"), settings.CaFile, tr("the system's authorities"), QStringLiteral("CaFileBrowse"));
    FCertFile =
        fileLine(form, tr("Client certificate:"), settings.CertFile, tr("optional"), QStringLiteral("CertFileBrowse"));
    FKeyFile = fileLine(form, tr("Client key:"), settings.KeyFile, tr("optional"), QStringLiteral("KeyFileBrowse"));
    FUser = line(tr("User name:"), settings.UserName);
    FPassword = line(tr("Password:"), settings.Password);
    FPassword->setEchoMode(QLineEdit::Password);
    FDiscovery = new QCheckBox(tr("Home Assistant discovery"), this);
    FDiscovery->setChecked(settings.HomeAssistant);
    form->addRow(FDiscovery);

    FTest = new QPushButton(tr("Test connection"), this);
    FTestResult = new QLabel(this);
    FTestResult->setWordWrap(true);
    FTestResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* testRow = new QHBoxLayout;
    testRow->addWidget(FTest);
    testRow->addStretch(1);
    form->addRow(testRow);
    form->addRow(FTestResult); // the whole width
    FConnectionTest = new TConnectionTest(this);
    connect(FTest, &QPushButton::clicked, this, &TPublishingDialog::testConnection);
    connect(FConnectionTest, &TConnectionTest::finished, this, [this](bool, const QString& result) {
        showTestResult(result);
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

QLineEdit* TPublishingDialog::fileLine(QFormLayout* form, const QString& label, const std::string& value,
                                       const QString& placeholder, const QString& name)
{
    auto* edit = new QLineEdit(text(value), this);
    edit->setPlaceholderText(placeholder);
    fitWidth(edit);
    auto* button = new QPushButton(tr("Browse..."), this);
    button->setObjectName(name);
    const QString title = QString(label).remove(QLatin1Char(':'));
    connect(button, &QPushButton::clicked, this, [this, edit, title] { browse(edit, title); });
    auto* row = new QHBoxLayout;
    row->addWidget(edit, 1);
    row->addWidget(button);
    form->addRow(label, row);
    return edit;
}

void TPublishingDialog::browse(QLineEdit* edit, const QString& title)
{
    const QString current = edit->text().trimmed();
    const QString folder =
        current.isEmpty() ? DialogFolders::folder(CertificateKind) : QFileInfo(current).absolutePath();
    const QString chosen =
        FFileChooser ? FFileChooser(title, folder)
                     : QFileDialog::getOpenFileName(
                         this, title, folder, tr("Certificates and keys (*.pem *.crt *.cer *.key);;All files (*)"));
    if (chosen.isEmpty())
        return;
    DialogFolders::remember(CertificateKind, chosen);
    edit->setText(QDir::toNativeSeparators(chosen));
}

void TPublishingDialog::showTestResult(const QString& result)
{
    FTestResult->setText(result);
    fitHeight();
}

void TPublishingDialog::fitHeight()
{
    QLayout* top = layout();
    top->activate();
    const int wanted = top->hasHeightForWidth() ? top->totalHeightForWidth(width()) : top->totalMinimumSize().height();
    if (wanted > height())
        resize(width(), wanted);
}

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
        showTestResult(problem);
        return;
    }
    FTest->setEnabled(false);
    showTestResult(tr("Connecting..."));
    FConnectionTest->start(FSettings, FPortName);
}
