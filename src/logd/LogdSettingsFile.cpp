#include "logd/LogdSettingsFile.h"

#include "settings/AlarmSettingsXml.h"
#include "settings/PublishSettingsXml.h"
#include "settings/QvXmlDoc.h"

#include <pugixml.hpp>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sysexits.h>
#include <unistd.h>

namespace {

// The window's settings document under any file name.
class TSettingsDocument : public TQvXmlDoc {
public:
    explicit TSettingsDocument(const std::string& fileName) : TQvXmlDoc(fileName, "Sensor\\Settings")
    {
        FFileName = fileName;
    }
};

// Empty when the file can be opened for reading, else why not.
std::string unreadable(const std::string& fileName)
{
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0)
        return std::strerror(errno);
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::strerror(errno);
    ::close(fd);
    return {};
}

} // namespace

int ReadLogdSettingsFile(const std::string& fileName, TLogdFileSettings& settings, std::string& why)
{
    settings = TLogdFileSettings{};
    const std::string named = "The settings file \"" + fileName + "\"";
    if (const std::string reason = unreadable(fileName); !reason.empty()) {
        why = named + " cannot be read: " + reason;
        return EX_NOINPUT;
    }
    TSettingsDocument document(fileName);
    if (document.LoadFile() != XmlResult::Ok) {
        why = named + " cannot be read: " + document.ErrorText();
        return EX_DATAERR;
    }
    const TXmlElement root = document.FindPath(document.DocumentElement(), document.RootPath());
    if (!root) {
        why = named + " is not a settings file: it has no <Sensor><Settings> element";
        return EX_DATAERR;
    }
    // As the window reads it: the last of each element counts, unknown elements are left alone.
    for (TXmlElement child = root.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element)
            continue;
        const std::string name = LocalName(child);
        std::string error;
        if (name == "Publishing") {
            settings.hasPublishing = true;
            if (!ReadPublishSettings(child, settings.publishing, error)) {
                why = named + ": " + error;
                return EX_DATAERR;
            }
            continue;
        }
        if (name == "Alarms") {
            settings.alarms.clear();
            if (!ReadAlarmSettings(child, settings.alarms, settings.noReadingAlarm, error)) {
                why = named + ": " + error;
                return EX_DATAERR;
            }
            continue;
        }
        if (name != "ComPort" && name != "Reconnect")
            continue;
        try {
            const std::string text = ElementText(child);
            if (name == "ComPort")
                settings.port = text;
            else
                settings.reconnect = ReadSettingSwitch(text);
        } catch (const EXmlDocumentError& e) {
            why = named + ": " + name + ": " + e.what();
            return EX_DATAERR;
        }
    }
    struct stat st {};
    if (!settings.publishing.Password.empty() && ::stat(fileName.c_str(), &st) == 0
        && (st.st_mode & (S_IRGRP | S_IROTH)) != 0)
        settings.warning = named
                           + " holds the broker password and others can read it: remove the password from "
                             "the file and give it with --publish-password-file";
    return 0;
}
