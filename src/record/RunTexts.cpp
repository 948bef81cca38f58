#include "record/RunTexts.h"

#include <QTime>

QString ReconnectedText(const QTime& time)
{
    return QStringLiteral("Reconnected at %1").arg(time.toString(QStringLiteral("hh:mm:ss")));
}

QString ConnectedText(const QTime& time)
{
    return QStringLiteral("Connected at %1").arg(time.toString(QStringLiteral("hh:mm:ss")));
}
