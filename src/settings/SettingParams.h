#pragma once
#include "publish/PublishSettings.h"
#include "record/AlarmRule.h"
#include "settings/QvXmlDoc.h"

#include <cstdint>
#include <string>
#include <vector>

// The settings that survive a restart: the serial port the sensor is attached to, kept in the element
// "ComPort" under the root path of the settings file, and whether a stopped run reconnects by itself,
// kept in "Reconnect" beside it ("true"; written only when on, so a file without it means off), and
// what is published to an MQTT broker, kept in "Publishing" (written once it differs from the defaults;
// a stored password makes the save write the file readable by its owner only), and the alarm rules with
// the "No reading" switch, kept in "Alarms" (written once there is a rule or the switch is off).
//
//   TSettingParams settings(exeFolder + "SensorSettings", "Sensor\\Settings");
//   settings.Load();              // ComPort: the stored name, else the lowest-numbered port present
//   sensor.SetPort(settings.ComPort);
//   ...
//   settings.ComPort = chosenPort;
//   settings.Save();              // rereads the file so that other content survives, then writes it
//
// A file that exists but cannot be used (unreadable, empty, malformed, or a "ComPort" element that does
// not hold plain text) is never overwritten: Load keeps the default and Save returns LoadFailed.
class TSettingParams : public TQvXmlDoc {
public:
    TSettingParams(const std::string& FileBase, const std::string& RootPath);

    std::string ComPort;
    bool Reconnect = false;
    TPublishSettings Publishing;
    std::vector<TAlarmRule> AlarmRules;
    bool NoReadingAlarm = true;

    int32_t Load();
    int32_t Save();
    // Sets ComPort to the lowest-numbered port present; leaves it alone when there is none.
    void SelectDefaultPort();

    // Natural order of List[Index1] and List[Index2] (see ComparePortNames).
    static int32_t ComparePortNumbers(const std::vector<std::string>& List, int32_t Index1, int32_t Index2);

    // Folder listed for the ports present (the tty class folder of sysfs).
    void SetPortListRoot(const std::string& root) { FPortListRoot = root; }

private:
    struct Stored {
        std::string port;
        bool portFound = false;
        bool reconnect = false;
        TPublishSettings publishing;
        std::vector<TAlarmRule> alarmRules;
        bool noReadingAlarm = true;
    };
    int32_t ReadStored(Stored& stored);

    std::string FPortListRoot = "/sys/class/tty";
};

// Natural order of port names: the text before the trailing number case-insensitively, then the number
// numerically ("COM2" < "COM10", "ttyACM0" < "ttyUSB0"). Negative, zero or positive.
int32_t ComparePortNames(const std::string& a, const std::string& b);
