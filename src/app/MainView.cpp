// How the window shows what it holds beyond the form description: old panel values and the chart's
// requests.
#include "app/Main.h"
#include "app/ReviewWindow.h"
#include "base/ErrorReport.h"
#include "chart/ChartLanes.h"
#include "chart/StripChart.h"

#include <QLabel>
#include <stdexcept>

namespace {
// Old values: the text colour this far towards the background.
constexpr double OldTextFade = 0.55;

QColor between(const QColor& from, const QColor& to, double part)
{
    return QColor::fromRgbF(static_cast<float>(from.redF() + (to.redF() - from.redF()) * part),
                            static_cast<float>(from.greenF() + (to.greenF() - from.greenF()) * part),
                            static_cast<float>(from.blueF() + (to.blueF() - from.blueF()) * part));
}
} // namespace

// After a stop or during an outage the panels keep their last values; they say that these are old.
void TFormMain::showPanelsOld(bool old)
{
    if (old == FPanelsOld)
        return;
    FPanelsOld = old;
    const QString tip = panelToolTip();
    for (size_t i = 0; i < FPanels.size(); ++i) {
        FPanels[i]->setPalette(panelPalette(i));
        FPanels[i]->setToolTip(tip);
    }
    FPanelAlarmed = {}; // their look is drawn again over this one
    showAlarms();
}

QPalette TFormMain::panelPalette(size_t index) const
{
    QPalette palette = FPanelPalettes[index];
    if (FPanelsOld)
        palette.setColor(QPalette::WindowText,
                         between(palette.color(QPalette::WindowText), palette.color(QPalette::Window), OldTextFade));
    return palette;
}

QString TFormMain::panelToolTip() const
{
    return FPanelsOld && FPanelsTime.isValid() ? QStringLiteral("Reading of %1, not current")
                                                     .arg(FPanelsTime.toString(QStringLiteral("hh:mm:ss, dd/MM/yyyy")))
                                               : QString();
}

// What the chart cannot do is reported as any other error. "Open log file..." opens a review window of its
// own; acquisition goes on.
void TFormMain::connectChart()
{
    connect(FChart.get(), &TStripChart::problem, this,
            [](const QString& text) { ReportApplicationError(std::runtime_error(text.toStdString())); });
    addLanesEntry(*FChart);
    addOpenLogFileEntry(*FChart, this);
}
