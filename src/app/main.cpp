// Program entry: the application object, the window, the message loop.
#include "Application.h"
#include "EComPort.h"
#include "Main.h"

#include <QDir>

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Velmora Data Logger"));
    InstallDefaultErrorReport();

    const QDir localeDir(QCoreApplication::applicationDirPath() + QStringLiteral("/locale"));
    RegisterPortErrorTexts(localeDir.exists() ? localeDir.absolutePath().toLocal8Bit().constData() : nullptr);

    TFormMain window;
    window.show();
    return application.exec();
}
