#include "app/StatusPanel.h"

#include <QPainter>
#include <algorithm>

TStatusPanel::TStatusPanel(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void TStatusPanel::setText(const QString& text)
{
    if (text == FText)
        return;
    FText = text;
    setToolTip(text);
    updateGeometry();
    update();
}

QString TStatusPanel::shownText() const
{
    return fontMetrics().elidedText(FText, Qt::ElideRight, std::max(0, width() - 2 * Margin));
}

QSize TStatusPanel::sizeHint() const
{
    return QSize(fontMetrics().horizontalAdvance(FText) + 2 * Margin, fontMetrics().height());
}

QSize TStatusPanel::minimumSizeHint() const
{
    return QSize(fontMetrics().horizontalAdvance(QStringLiteral("...")) + 2 * Margin, fontMetrics().height());
}

void TStatusPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect().adjusted(Margin, 0, -Margin, 0), Qt::AlignLeft | Qt::AlignVCenter, shownText());
}
