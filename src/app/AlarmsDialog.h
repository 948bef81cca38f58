#pragma once
#include "record/AlarmRule.h"

#include <QDialog>
#include <vector>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QListWidget;
class QPushButton;

// Alarms > Alarms...: the alarm rules, each on a quantity of the current mode (rules of the other mode are
// kept as they are), and whether an outage raises "No reading". The fields below the list describe a rule:
// Add appends it, Change replaces the selected rule with it, Remove removes the selected rule; selecting a
// rule fills the fields. Concentrations are entered in percent, as their panels show them.
class TAlarmsDialog : public QDialog {
    Q_OBJECT
public:
    TAlarmsDialog(const std::vector<TAlarmRule>& rules, bool noReading, bool concentrationMode,
                  QWidget* parent = nullptr);

    const std::vector<TAlarmRule>& rules() const { return FRules; }
    // Off only when the box is cleared while there are rules.
    bool noReading() const;
    // The rule the fields describe (levels as the log holds them: concentrations as fractions).
    TAlarmRule fieldsRule() const;
    void setFields(const TAlarmRule& rule);

    QListWidget* list() const { return FList; }
    QComboBox* quantityBox() const { return FQuantity; }
    QComboBox* directionBox() const { return FDirection; }
    QDoubleSpinBox* levelBox() const { return FLevel; }
    QDoubleSpinBox* hysteresisBox() const { return FHysteresis; }
    QDoubleSpinBox* delayBox() const { return FDelay; }
    QCheckBox* latchBox() const { return FLatch; }
    QCheckBox* noReadingBox() const { return FNoReading; }
    QPushButton* addButton() const { return FAdd; }
    QPushButton* changeButton() const { return FChange; }
    QPushButton* removeButton() const { return FRemove; }

private:
    void fillList();
    void selected();
    void add();
    void change();
    void remove();
    void quantityChosen();

    std::vector<TAlarmRule> FRules;
    QListWidget* FList = nullptr;
    QComboBox* FQuantity = nullptr;
    QComboBox* FDirection = nullptr;
    QDoubleSpinBox* FLevel = nullptr;
    QDoubleSpinBox* FHysteresis = nullptr;
    QDoubleSpinBox* FDelay = nullptr;
    QCheckBox* FLatch = nullptr;
    QCheckBox* FNoReading = nullptr;
    QPushButton* FAdd = nullptr;
    QPushButton* FChange = nullptr;
    QPushButton* FRemove = nullptr;
};
