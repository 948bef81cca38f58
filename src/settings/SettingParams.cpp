#include "settings/SettingParams.h"

#include "serial/PortList.h"
#include "settings/AlarmSettingsXml.h"
#include "settings/PublishSettingsXml.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>

namespace {

constexpr const char* ComPortKey = "ComPort";
constexpr const char* ReconnectKey = "Reconnect";
constexpr const char* PublishingKey = "Publishing";
constexpr const char* AlarmsKey = "Alarms";

struct NameParts {
    std::string_view prefix;
    std::string_view digits; // trailing number without leading zeros
};

NameParts splitName(std::string_view name)
{
    size_t start = name.size();
    while (start > 0 && std::isdigit(static_cast<unsigned char>(name[start - 1])))
        --start;
    std::string_view digits = name.substr(start);
    while (digits.size() > 1 && digits.front() == '0')
        digits.remove_prefix(1);
    return {name.substr(0, start), digits};
}

int sign(int v)
{
    return (v > 0) - (v < 0);
}

} // namespace

int32_t ComparePortNames(const std::string& a, const std::string& b)
{
    const NameParts pa = splitName(a), pb = splitName(b);
    const size_t n = std::min(pa.prefix.size(), pb.prefix.size());
    for (size_t i = 0; i < n; ++i) {
        const int ca = std::tolower(static_cast<unsigned char>(pa.prefix[i]));
        const int cb = std::tolower(static_cast<unsigned char>(pb.prefix[i]));
        if (ca != cb)
            return ca - cb;
    }
    if (pa.prefix.size() != pb.prefix.size())
        return pa.prefix.size() < pb.prefix.size() ? -1 : 1;
    // A name without a number comes first; numbers compare by length, then digit by digit.
    if (pa.digits.size() != pb.digits.size())
        return pa.digits.size() < pb.digits.size() ? -1 : 1;
    return sign(pa.digits.compare(pb.digits));
}

TSettingParams::TSettingParams(const std::string& FileBase, const std::string& RootPath) : TQvXmlDoc(FileBase, RootPath)
{}

int32_t TSettingParams::ComparePortNumbers(const std::vector<std::string>& List, int32_t Index1, int32_t Index2)
{
    return ComparePortNames(List.at(static_cast<size_t>(Index1)), List.at(static_cast<size_t>(Index2)));
}

void TSettingParams::SelectDefaultPort()
{
    std::vector<std::string> ports;
    ListSerialPorts(ports, FPortListRoot);
    if (ports.empty())
        return;
    std::stable_sort(ports.begin(), ports.end(),
                     [](const std::string& a, const std::string& b) { return ComparePortNames(a, b) < 0; });
    ComPort = ports.front();
}

// Reads the last "ComPort" and the last "Reconnect" element under the settings element of the loaded
// document. Either holding anything but text makes the whole file unusable (LoadFailed).
int32_t TSettingParams::ReadStored(Stored& stored)
{
    stored = Stored{};
    if (!HasNodes())
        return XmlResult::Ok;
    const TXmlElement settings = FindPath(DocumentElement(), FRootPath);
    for (TXmlElement child = settings.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element)
            continue;
        const std::string name = LocalName(child);
        if (name == PublishingKey) {
            if (!ReadPublishSettings(child, stored.publishing, FErrorText)) {
                stored = Stored{};
                return XmlResult::LoadFailed;
            }
            continue;
        }
        if (name == AlarmsKey) {
            if (!ReadAlarmSettings(child, stored.alarmRules, stored.noReadingAlarm, FErrorText)) {
                stored = Stored{};
                return XmlResult::LoadFailed;
            }
            continue;
        }
        if (name != ComPortKey && name != ReconnectKey)
            continue;
        try {
            const std::string text = ElementText(child);
            if (name == ComPortKey) {
                stored.port = text;
                stored.portFound = true;
            } else {
                stored.reconnect = ReadSettingSwitch(text);
            }
        } catch (const EXmlDocumentError& e) {
            stored = Stored{};
            FErrorText = name + ": " + e.what();
            return XmlResult::LoadFailed;
        }
    }
    return XmlResult::Ok;
}

int32_t TSettingParams::Load()
{
    SelectDefaultPort();
    const int32_t r = LoadFile();
    if (r == XmlResult::FileNotFound)
        return XmlResult::Ok;
    if (r != XmlResult::Ok)
        return r;
    Stored stored;
    const int32_t read = ReadStored(stored);
    if (read != XmlResult::Ok)
        return read;
    if (stored.portFound)
        ComPort = stored.port;
    Reconnect = stored.reconnect;
    Publishing = stored.publishing;
    AlarmRules = stored.alarmRules;
    NoReadingAlarm = stored.noReadingAlarm;
    return read;
}

int32_t TSettingParams::Save()
{
    SetOwnerOnly(!Publishing.Password.empty());
    int32_t r = LoadFile();
    if (r == XmlResult::Ok) {
        Stored stored;
        r = ReadStored(stored);
        if (r != XmlResult::Ok)
            return r; // leave a file we cannot read as it is
    }
    if (r == XmlResult::Ok || r == XmlResult::FileNotFound) {
        TXmlElement settings = ForcePath(FRootPath);
        if (settings) {
            while (settings.first_child())
                settings.remove_child(settings.first_child());
            r = AddTextElement(settings, ComPortKey, ComPort);
            if (r == XmlResult::Ok && Reconnect)
                r = AddTextElement(settings, ReconnectKey, "true");
            TXmlElement publishing;
            if (r == XmlResult::Ok && Publishing != TPublishSettings{}
                && (r = AddChildElement(settings, PublishingKey, publishing)) == XmlResult::Ok)
                r = WritePublishSettings(*this, publishing, Publishing);
            TXmlElement alarms;
            if (r == XmlResult::Ok && (!AlarmRules.empty() || !NoReadingAlarm)
                && (r = AddChildElement(settings, AlarmsKey, alarms)) == XmlResult::Ok)
                r = WriteAlarmSettings(*this, alarms, AlarmRules, NoReadingAlarm);
            if (r != XmlResult::Ok)
                FErrorText = "the settings cannot be stored in XML";
        } else {
            // Another document element: the file is written back as it was, but the port is not stored,
            // so the save must not report success.
            r = SaveFile();
            if (r != XmlResult::Ok)
                return r;
            std::string first, rest;
            bool hasRest = false;
            SplitPath(FRootPath, rest, hasRest, first);
            FErrorText =
                std::string("its root element is <") + DocumentElement().name() + "> instead of <" + first + ">";
            return XmlResult::DocumentError;
        }
    }
    if (r == XmlResult::Ok)
        r = SaveFile();
    return r;
}
