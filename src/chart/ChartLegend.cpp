#include "chart/ChartLegend.h"

namespace {
constexpr double HiddenOpacity = 0.3;

// Whether a picture may be kept: not while saving (QCPPainter::pmNoCaching) and only with label caching on.
// An element squeezed to nothing (a plot not yet given its size) has no picture to paint into.
bool keepsPictures(const QCustomPlot* plot, const QCPPainter* painter, const QRect& rect)
{
    return plot->plottingHints().testFlag(QCP::phCacheLabels) && !painter->modes().testFlag(QCPPainter::pmNoCaching)
           && painter->transform().isIdentity() && !rect.isEmpty();
}

// Renders `draw` (in plot coordinates) for `rect` into a transparent picture of the painter's pixel ratio.
template <typename Draw> QPixmap picture(const QCPPainter* painter, const QRect& rect, Draw draw)
{
    const qreal ratio = painter->device()->devicePixelRatioF();
    QPixmap result(rect.size() * ratio);
    result.setDevicePixelRatio(ratio);
    result.fill(Qt::transparent);
    QCPPainter inner(&result);
    inner.setRenderHints(painter->renderHints());
    inner.setAntialiasing(painter->antialiasing());
    inner.translate(-rect.topLeft());
    draw(&inner);
    return result;
}

} // namespace

TSeriesLegendItem::TSeriesLegendItem(QCPLegend* legend, QCPAbstractPlottable* plottable)
    : QCPPlottableLegendItem(legend, plottable)
{}

TSeriesLegendItem::TLook TSeriesLegendItem::hintLook() const
{
    TLook look;
    look.name = mPlottable->name();
    look.font = getFont();
    look.icon = mParentLegend->iconSize();
    look.padding = mParentLegend->iconTextPadding();
    look.margins = mMargins;
    return look;
}

QSize TSeriesLegendItem::minimumOuterSizeHint() const
{
    TLook look = hintLook();
    if (!(look == FHintLook) || FHint.isEmpty()) {
        FHint = QCPPlottableLegendItem::minimumOuterSizeHint();
        FHintLook = std::move(look);
    }
    return FHint;
}

void TSeriesLegendItem::drawDirectly(QCPPainter* painter)
{
    const double opacity = painter->opacity();
    if (!mPlottable->visible())
        painter->setOpacity(opacity * HiddenOpacity);
    QCPPlottableLegendItem::draw(painter);
    painter->setOpacity(opacity);
}

void TSeriesLegendItem::draw(QCPPainter* painter)
{
    if (!mPlottable)
        return;
    if (!keepsPictures(mParentPlot, painter, mRect)) {
        drawDirectly(painter);
        return;
    }
    const auto* graph = qobject_cast<const QCPGraph*>(mPlottable);
    TLook look = hintLook();
    look.size = mRect.size();
    look.text = getTextColor().rgba();
    look.pen = mPlottable->pen();
    look.border = getIconBorderPen();
    look.lineStyle = graph ? int(graph->lineStyle()) : -1;
    look.antialiased = int(mParentPlot->antialiasedElements());
    look.notAntialiased = int(mParentPlot->notAntialiasedElements());
    look.antialiasedItem = mPlottable->antialiased();
    if (!(look == FPictureLook) || FPicture.isNull()
        || FPicture.devicePixelRatio() != painter->device()->devicePixelRatioF()) {
        FPicture = picture(painter, mRect, [this](QCPPainter* inner) { QCPPlottableLegendItem::draw(inner); });
        FPictureLook = std::move(look);
    }
    const double opacity = painter->opacity();
    if (!mPlottable->visible())
        painter->setOpacity(opacity * HiddenOpacity);
    painter->drawPixmap(mRect.topLeft(), FPicture);
    painter->setOpacity(opacity);
}

TChartTitle::TChartTitle(QCustomPlot* plot, const QString& text) : QCPTextElement(plot, text) {}

QSize TChartTitle::textSize() const
{
    TLook look{mText, mFont, 0, 0, QSize()};
    if (!(look == FSizeLook) || FSize.isEmpty()) {
        FSize = QFontMetrics(mFont).boundingRect(0, 0, 0, 0, Qt::TextDontClip, mText).size();
        FSizeLook = std::move(look);
    }
    return FSize;
}

QSize TChartTitle::minimumOuterSizeHint() const
{
    return textSize().grownBy(mMargins);
}

QSize TChartTitle::maximumOuterSizeHint() const
{
    return QSize(QWIDGETSIZE_MAX, textSize().height() + mMargins.top() + mMargins.bottom());
}

void TChartTitle::draw(QCPPainter* painter)
{
    if (!keepsPictures(mParentPlot, painter, mRect)) {
        QCPTextElement::draw(painter);
        return;
    }
    TLook look{mText, mainFont(), mainTextColor().rgba(), mTextFlags, mRect.size()};
    if (!(look == FPictureLook) || FPicture.isNull()
        || FPicture.devicePixelRatio() != painter->device()->devicePixelRatioF()) {
        FPicture = picture(painter, mRect, [this](QCPPainter* inner) { QCPTextElement::draw(inner); });
        FPictureLook = std::move(look);
    }
    painter->drawPixmap(mRect.topLeft(), FPicture);
}
