#include "app/AlarmsDialog.h"
#include "app/AlarmView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr double LargestEntry = 1e9;

QDoubleSpinBox* spinBox(double low, const QString& suffix)
{
    auto* box = new QDoubleSpinBox;
    box->setRange(low, LargestEntry);
    box->setDecimals(4);
    box->setSuffix(suffix);
    return box;
}
} // namespace

TAlarmsDialog::TAlarmsDialog(const std::vector<TAlarmRule>& rules, bool noReading, bool concentrationMode,
                             QWidget* parent)
    : QDialog(parent), FRules(rules)
{
    setWindowTitle(tr("Alarms"));
    FList = new QListWidget;
    FList->setObjectName(QStringLiteral("AlarmRules"));
    FQuantity = new QComboBox;
    for (const char* q : AlarmQuantities(concentrationMode))
        FQuantity->addItem(QString::fromLatin1(q));
    FDirection = new QComboBox;
    FDirection->addItem(tr("above (>)"));
    FDirection->addItem(tr("below (<)"));
    FLevel = spinBox(-LargestEntry, {});
    FHysteresis = spinBox(0, {});
    FDelay = spinBox(0, tr(" s"));
    FDelay->setDecimals(1);
    FLatch = new QCheckBox(tr("Latching: stays on until acknowledged"));
    FNoReading = new QCheckBox(tr("No reading: an alarm while the sensor does not answer"));
    FNoReading->setChecked(noReading);
    FAdd = new QPushButton(tr("&Add"));
    FChange = new QPushButton(tr("&Change"));
    FRemove = new QPushButton(tr("&Remove"));

    auto* fields = new QFormLayout;
    fields->addRow(tr("Quantity:"), FQuantity);
    fields->addRow(tr("Alarm when:"), FDirection);
    fields->addRow(tr("Level:"), FLevel);
    fields->addRow(tr("Hysteresis:"), FHysteresis);
    fields->addRow(tr("Delay:"), FDelay);
    fields->addRow(QString(), FLatch);
    auto* note = new QLabel(tr("Concentrations are in percent (%), as their panels show them; other quantities "
                               "in the units of the log."));
    note->setWordWrap(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(FAdd);
    buttons->addWidget(FChange);
    buttons->addWidget(FRemove);
    buttons->addStretch();
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(FList);
    layout->addLayout(buttons);
    layout->addLayout(fields);
    layout->addWidget(note);
    layout->addWidget(FNoReading);
    layout->addWidget(box);

    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(FList, &QListWidget::currentRowChanged, this, &TAlarmsDialog::selected);
    connect(FQuantity, &QComboBox::currentIndexChanged, this, &TAlarmsDialog::quantityChosen);
    connect(FAdd, &QPushButton::clicked, this, &TAlarmsDialog::add);
    connect(FChange, &QPushButton::clicked, this, &TAlarmsDialog::change);
    connect(FRemove, &QPushButton::clicked, this, &TAlarmsDialog::remove);
    quantityChosen();
    fillList();
    if (!FRules.empty())
        FList->setCurrentRow(0);
}

bool TAlarmsDialog::noReading() const
{
    return FRules.empty() || FNoReading->isChecked();
}

void TAlarmsDialog::fillList()
{
    const int row = FList->currentRow();
    FList->clear();
    for (const TAlarmRule& rule : FRules)
        FList->addItem(AlarmRuleDetails(rule));
    FList->setCurrentRow(std::min(row, FList->count() - 1));
    const bool any = !FRules.empty();
    FChange->setEnabled(FList->currentRow() >= 0);
    FRemove->setEnabled(FList->currentRow() >= 0);
    // "No reading" comes with the first rule.
    if (!FNoReading->isEnabled() && any)
        FNoReading->setChecked(true);
    FNoReading->setEnabled(any);
}

TAlarmRule TAlarmsDialog::fieldsRule() const
{
    TAlarmRule rule;
    rule.quantity = FQuantity->currentText().toStdString();
    rule.direction = FDirection->currentIndex() == 1 ? TAlarmRule::Low : TAlarmRule::High;
    const double divisor = ShownInPercent(rule.quantity) ? 100 : 1;
    rule.level = FLevel->value() / divisor;
    rule.hysteresis = FHysteresis->value() / divisor;
    rule.delaySeconds = FDelay->value();
    rule.latching = FLatch->isChecked();
    return rule;
}

void TAlarmsDialog::setFields(const TAlarmRule& rule)
{
    const QString quantity = QString::fromStdString(rule.quantity);
    if (FQuantity->findText(quantity) < 0)
        FQuantity->addItem(quantity); // a rule of the other mode
    FQuantity->setCurrentText(quantity);
    FDirection->setCurrentIndex(rule.direction == TAlarmRule::Low ? 1 : 0);
    const double scale = ShownInPercent(rule.quantity) ? 100 : 1;
    FLevel->setValue(rule.level * scale);
    FHysteresis->setValue(rule.hysteresis * scale);
    FDelay->setValue(rule.delaySeconds);
    FLatch->setChecked(rule.latching);
}

void TAlarmsDialog::selected()
{
    const int row = FList->currentRow();
    FChange->setEnabled(row >= 0);
    FRemove->setEnabled(row >= 0);
    if (row >= 0 && static_cast<size_t>(row) < FRules.size())
        setFields(FRules[static_cast<size_t>(row)]);
}

void TAlarmsDialog::quantityChosen()
{
    const QString suffix = ShownInPercent(FQuantity->currentText().toStdString()) ? QStringLiteral(" %") : QString();
    FLevel->setSuffix(suffix);
    FHysteresis->setSuffix(suffix);
}

void TAlarmsDialog::add()
{
    FRules.push_back(fieldsRule());
    FList->blockSignals(true);
    fillList();
    FList->setCurrentRow(FList->count() - 1);
    FList->blockSignals(false);
    FChange->setEnabled(true);
    FRemove->setEnabled(true);
}

void TAlarmsDialog::change()
{
    const int row = FList->currentRow();
    if (row < 0 || static_cast<size_t>(row) >= FRules.size())
        return;
    FRules[static_cast<size_t>(row)] = fieldsRule();
    FList->blockSignals(true);
    fillList();
    FList->blockSignals(false);
}

void TAlarmsDialog::remove()
{
    const int row = FList->currentRow();
    if (row < 0 || static_cast<size_t>(row) >= FRules.size())
        return;
    FRules.erase(FRules.begin() + row);
    fillList();
    selected();
}
