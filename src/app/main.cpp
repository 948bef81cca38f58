// Program entry: the application object, the window, the message loop.
#include "app/Main.h"
#include "app/Application.h"
#include "app/ReviewWindow.h"
#include "record/RegionalSettings.h"
#include "serial/EComPort.h"

#include <QCommandLineParser>
#include <QDir>
#include <cstdio>

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Velmora Data Logger"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Shows, plots and logs the readings of a gas sensor on a serial "
                                                    "port; with --review, shows a log file written earlier."));
    parser.addHelpOption();
    const QCommandLineOption review(QStringLiteral("review"),
                                    QStringLiteral("Show the log file <file> in a review window only: no acquisition, "
                                                   "no serial port opened, no settings written."),
                                    QStringLiteral("file"));
    parser.addOption(review);
    parser.process(application); // an unknown option: a message naming it on stderr, exit code 1
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "%s: unexpected argument '%s'; to review a log file: --review FILE\n",
                     qPrintable(QCoreApplication::applicationFilePath().section(QLatin1Char('/'), -1)),
                     qPrintable(parser.positionalArguments().constFirst()));
        return 1;
    }
    InstallDefaultErrorReport();

    if (parser.isSet(review)) {
        ApplyRegionalSettings();
        TReviewWindow window(parser.value(review));
        window.show();
        return application.exec();
    }

    // Message catalogues: a build tree's next to the executable, else those of the install.
    const QDir localeDir(QCoreApplication::applicationDirPath() + QStringLiteral("/locale"));
    const QByteArray catalogues =
        localeDir.exists() ? localeDir.absolutePath().toLocal8Bit() : QByteArray(VELMORA_INSTALL_LOCALEDIR);
    RegisterPortErrorTexts(catalogues.constData());

    TFormMain window;
    window.show();
    return application.exec();
}
