// Program entry: the application object, the window, the message loop.
#include "app/Main.h"
#include "app/Application.h"
#include "serial/EComPort.h"

#include <QDir>

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Velmora Data Logger"));
    InstallDefaultErrorReport();

    // Message catalogues: a build tree's next to the executable, else those of the install.
    const QDir localeDir(QCoreApplication::applicationDirPath() + QStringLiteral("/locale"));
    const QByteArray catalogues =
        localeDir.exists() ? localeDir.absolutePath().toLocal8Bit() : QByteArray(VELMORA_INSTALL_LOCALEDIR);
    RegisterPortErrorTexts(catalogues.constData());

    TFormMain window;
    window.show();
    return application.exec();
}
