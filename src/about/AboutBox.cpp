#include "about/AboutBox.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>

TFormAboutBox* FormAboutBox = nullptr;

TFormAboutBox::TFormAboutBox(QWidget* Owner) : TFormAboutSplash(Owner)
{
    for (QObject* clickable :
         {static_cast<QObject*>(this), static_cast<QObject*>(ImageLogo), static_cast<QObject*>(LabelVersion),
          static_cast<QObject*>(LabelBuild), static_cast<QObject*>(LabelCopyright), static_cast<QObject*>(LabelTitle)})
        clickable->installEventFilter(this);
    FormAboutBox = this;
}

TFormAboutBox::~TFormAboutBox()
{
    if (FormAboutBox == this)
        FormAboutBox = nullptr;
}

void TFormAboutBox::FormShow()
{
    TFormAboutSplash::FormShow();
    setWindowTitle(QStringLiteral(" About ") + QCoreApplication::applicationName());
}

void TFormAboutBox::FormClick()
{
    close();
}

bool TFormAboutBox::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        FormClick();
        return true;
    }
    return TFormAboutSplash::eventFilter(watched, event);
}
