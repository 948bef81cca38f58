#pragma once
#include <QString>
#include <cstdint>
#include <string>

class TSettingParams;

// Name of the settings file, without its extension.
inline constexpr const char* SettingsFileBase = "SensorSettings";

// The folder that holds the settings file: the executable's folder when a SensorSettings.xml is there
// (build tree, demo, a portable copy), else the user's configuration folder, where the first save
// creates it.
QString ResolveSettingsFolder(const QString& executableFolder);
// The user's configuration folder of the program: $XDG_CONFIG_HOME/velmora-logger (~/.config/...).
QString UserSettingsFolder();
// Creates the folder of the settings file when it is missing; false with the reason when it cannot.
bool EnsureSettingsFolder(const TSettingParams& settings, std::string& reason);

// What the operator is told when the settings file cannot be read at start-up, and when a save fails
// with `code` for `reason` (the store's ErrorText, or EnsureSettingsFolder's reason).
std::string SettingsLoadFailureText(const TSettingParams& settings);
std::string SettingsSaveFailureText(const TSettingParams& settings, int32_t code, const std::string& reason);
