// The strip chart's right-click menu and saving it as a picture.
#include "chart/StripChart.h"

#include "chart/ChartOverlay.h"
#include "chart/DialogFolders.h"

#include <QActionGroup>
#include <QBuffer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontInfo>
#include <QMenu>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSvgGenerator>
#include <cmath>
#include <stdexcept>

namespace {

const struct {
    const char* filter;
    const char* suffix;
} PictureKinds[] = {{"PNG image (*.png)", "png"}, {"PDF document (*.pdf)", "pdf"}, {"SVG drawing (*.svg)", "svg"}};

// The file dialogs' kind for pictures (DialogFolders).
const QString PictureDialog = QStringLiteral("picture");

QString spanTitle(double seconds)
{
    return seconds < 3600 ? QStringLiteral("Last %1 min").arg(seconds / 60)
                          : QStringLiteral("Last %1 h").arg(seconds / 3600);
}

std::runtime_error writeError(const QString& fileName, const QString& reason)
{
    return std::runtime_error(QStringLiteral("Cannot write file \"%1\". %2").arg(fileName, reason).toStdString());
}

// The SVG generator names the family asked for ("Sans Serif"), not the one drawn: each is given the family
// shown on the screen.
QByteArray svgWithFontsShown(const QByteArray& svg)
{
    const QString text = QString::fromUtf8(svg);
    static const QRegularExpression family(QStringLiteral("font-family=\"([^\"]*)\""));
    QString out;
    out.reserve(text.size());
    qsizetype from = 0;
    for (auto m = family.globalMatch(text); m.hasNext();) {
        const QRegularExpressionMatch found = m.next();
        out += QStringView(text).mid(from, found.capturedStart(1) - from);
        out += QFontInfo(QFont(found.captured(1))).family().toHtmlEscaped();
        from = found.capturedEnd(1);
    }
    out += QStringView(text).mid(from);
    return out.toUtf8();
}

// A file dialog; a name without one of the offered extensions gets that of the chosen kind.
QString askPictureFile(QWidget* parent)
{
    QStringList filters;
    for (const auto& kind : PictureKinds)
        filters << QString::fromLatin1(kind.filter);
    QString chosenFilter = filters[0];
    QString name =
        QFileDialog::getSaveFileName(parent, QStringLiteral("Save picture as"), DialogFolders::folder(PictureDialog),
                                     filters.join(QStringLiteral(";;")), &chosenFilter);
    if (name.isEmpty())
        return name;
    DialogFolders::remember(PictureDialog, name);
    const QString suffix = QFileInfo(name).suffix().toLower();
    for (const auto& kind : PictureKinds)
        if (suffix == QLatin1String(kind.suffix))
            return name;
    for (const auto& kind : PictureKinds)
        if (chosenFilter == QLatin1String(kind.filter))
            return name + QLatin1Char('.') + QLatin1String(kind.suffix);
    return name + QStringLiteral(".png");
}

} // namespace

QMenu* TStripChart::contextMenu()
{
    if (FMenu)
        return FMenu;
    FMenu = new QMenu(FChart);
    FMenu->setObjectName(QStringLiteral("ChartMenu"));
    auto* views = new QActionGroup(FMenu);
    const auto addView = [&](const QString& text, auto choose, auto checked) {
        QAction* action = FMenu->addAction(text, this, choose);
        action->setCheckable(true);
        views->addAction(action);
        connect(FMenu, &QMenu::aboutToShow, action, [this, action, checked] { action->setChecked(checked()); });
        return action;
    };
    addView(
        QStringLiteral("Whole run"), [this] { showWholeRun(); }, [this] { return FView == TView::WholeRun; });
    for (const double seconds : LastSpans)
        addView(
            spanTitle(seconds), [this, seconds] { showLast(seconds); },
            [this, seconds] { return FView == TView::Last && FLastSpan == seconds; });
    addView(
        QStringLiteral("Held"), [] {}, [this] { return FView == TView::Held; })
        ->setEnabled(false);
    FMenu->addSeparator();
    FMenu->addAction(QStringLiteral("Reset view"), this, [this] { resetView(); });
    QAction* statistics = FMenu->addAction(QStringLiteral("Statistics of a range..."), this, [this] {
        const QCPRange shown = FChart->xAxis->range();
        showRangeStatistics(shown.lower, shown.upper);
    });
    statistics->setObjectName(QStringLiteral("StatisticsItem"));
    statistics->setToolTip(QStringLiteral("The range shown; a Shift+drag across the chart marks another"));
    FMenu->addSeparator();
    FMenu->addAction(QStringLiteral("Save picture as..."), this, [this] { savePictureAsked(); });
    return FMenu;
}

void TStripChart::addMenuAction(QAction* action)
{
    contextMenu()->addAction(action);
}

void TStripChart::savePictureAsked()
{
    const QString name = FPictureFileChooser ? FPictureFileChooser() : askPictureFile(FChart);
    if (name.isEmpty())
        return;
    try {
        savePicture(name);
    } catch (const std::exception& error) {
        reportProblem(QString::fromStdString(error.what()));
    }
}

void TStripChart::savePicture(const QString& fileName) const
{
    // The crosshair, the readout and the held note are for the screen: the picture is of the chart alone.
    FOverlay->setVisible(false);
    const auto shown = qScopeGuard([this] { FOverlay->setVisible(true); });
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    const int width = FChart->width(), height = FChart->height();
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error(
            QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, file.errorString()).toStdString());
    if (suffix == QLatin1String("pdf")) {
        file.close(); // QCustomPlot's writer opens it by name
        if (!FChart->savePdf(fileName, width, height))
            throw writeError(fileName, QStringLiteral("The PDF could not be written."));
        return;
    }
    if (suffix == QLatin1String("svg")) {
        QBuffer drawing;
        drawing.open(QIODevice::WriteOnly);
        QSvgGenerator svg;
        svg.setOutputDevice(&drawing);
        svg.setResolution(FChart->logicalDpiX()); // text at its size on the screen (72 dpi by default)
        svg.setSize(QSize(width, height));
        svg.setViewBox(QRect(0, 0, width, height));
        svg.setTitle(QStringLiteral("Chart"));
        QCPPainter painter;
        if (!painter.begin(&svg))
            throw writeError(fileName, drawing.errorString());
        painter.setMode(QCPPainter::pmVectorized); // lines as lines, not the screen's cached images
        painter.setMode(QCPPainter::pmNoCaching);
        FChart->toPainter(&painter, width, height);
        painter.end();
        if (file.write(svgWithFontsShown(drawing.data())) < 0)
            throw writeError(fileName, file.errorString());
    } else if (!FChart->toPixmap(width, height, FChart->devicePixelRatioF()).save(&file, "PNG")) {
        throw writeError(fileName, file.errorString());
    }
    if (!file.flush() || file.error() != QFileDevice::NoError)
        throw writeError(fileName, file.errorString());
}
