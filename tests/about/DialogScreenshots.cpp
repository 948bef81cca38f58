// Renders the comms settings dialog and the about box to PNG files.
#include "about/AboutBox.h"
#include "app/SensorSettings.h"

#include <QApplication>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <comms-settings.png> <about-box.png>\n", argv[0]);
        return 2;
    }
    QApplication::setApplicationName("Velmora Data Logger");

    TFormSensorSettings::SetPortLister([](std::vector<std::string>& ports) {
        ports = {"ttyS0", "ttyUSB0", "ttyUSB1"};
    });
    TFormSensorSettings settings;
    settings.SetComPort("ttyUSB0");
    settings.show();
    const bool settingsSaved = settings.grab().save(QString::fromLocal8Bit(argv[1]));

    TFormAboutBox about;
    about.show();
    const bool aboutSaved = about.grab().save(QString::fromLocal8Bit(argv[2]));
    return settingsSaved && aboutSaved ? 0 : 1;
}
