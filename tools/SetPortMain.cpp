// velmora-set-port FOLDER PORT: stores PORT as the sensor's port in FOLDER/SensorSettings.xml, keeping
// whatever else the file holds. Exits 1 when the file cannot be stored.
#include "settings/SettingParams.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s FOLDER PORT\n", argv[0]);
        return 2;
    }
    try {
        TSettingParams settings(std::string(argv[1]) + "/SensorSettings", "Sensor\\Settings");
        settings.Load();
        settings.ComPort = argv[2];
        const int32_t result = settings.Save();
        if (result != 0) {
            fprintf(stderr, "%s: cannot store the port in %s (code %d)\n", argv[0], settings.FileName().c_str(),
                    result);
            return 1;
        }
        printf("%s: %s\n", settings.FileName().c_str(), argv[2]);
    } catch (const std::exception& e) {
        fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
    return 0;
}
