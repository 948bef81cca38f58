#include "record/RegionalSettings.h"

#include <QLocale>
#include <clocale>

void ApplyRegionalSettings()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    std::setlocale(LC_NUMERIC, "C");
}
