#include "settings/SettingsFile.h"

#include "settings/QvXmlDoc.h"
#include "settings/SettingParams.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <filesystem>
#include <system_error>

namespace {

constexpr const char* ConfigFolderName = "velmora-logger";

std::string quoted(const std::string& fileName)
{
    return "\"" + fileName + "\"";
}

std::string portName(const TSettingParams& settings)
{
    return settings.ComPort.empty() ? std::string("(none)") : settings.ComPort;
}

} // namespace

QString ResolveSettingsFolder(const QString& executableFolder)
{
    const QString nextToExecutable = QDir(executableFolder).filePath(QString::fromLatin1(SettingsFileBase) + ".xml");
    if (QFileInfo::exists(nextToExecutable))
        return executableFolder;
    return UserSettingsFolder();
}

QString UserSettingsFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QString::fromLatin1(ConfigFolderName));
}

bool EnsureSettingsFolder(const TSettingParams& settings, std::string& reason)
{
    const std::filesystem::path folder = std::filesystem::path(settings.FileName()).parent_path();
    std::error_code error;
    if (folder.empty() || std::filesystem::is_directory(folder, error))
        return true;
    std::filesystem::create_directories(folder, error);
    if (!error)
        return true;
    reason = "the folder " + quoted(folder.string()) + " cannot be created: " + error.message();
    return false;
}

std::string SettingsLoadFailureText(const TSettingParams& settings)
{
    return "The settings file " + quoted(settings.FileName()) + " cannot be read: " + settings.ErrorText()
           + ".\n\nThe program uses the default port " + portName(settings)
           + " and leaves the file as it is. Repair or delete the file so that your choices can be stored.";
}

std::string SettingsSaveFailureText(const TSettingParams& settings, int32_t code, const std::string& reason)
{
    const std::string inUse =
        "\n\nThe current settings (port " + portName(settings) + ") stay in use until the program ends.";
    if (code == XmlResult::LoadFailed)
        return "The settings were not saved: the settings file " + quoted(settings.FileName()) + " cannot be read ("
               + reason + ") and is left as it is." + inUse + " Repair or delete the file, then choose again.";
    return "The settings could not be saved to " + quoted(settings.FileName()) + ": " + reason + "." + inUse;
}
