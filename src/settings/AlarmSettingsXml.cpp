#include "settings/AlarmSettingsXml.h"
#include "settings/PublishSettingsXml.h"

#include <pugixml.hpp>

std::string AlarmRuleSetting(const TAlarmRule& rule)
{
    std::string text = rule.quantity + (rule.direction == TAlarmRule::High ? ">" : "<") + FormatAlarmNumber(rule.level);
    if (rule.hysteresis != 0)
        text += ",hysteresis=" + FormatAlarmNumber(rule.hysteresis);
    if (rule.delaySeconds != 0)
        text += ",delay=" + FormatAlarmNumber(rule.delaySeconds);
    if (rule.latching)
        text += ",latch";
    return text;
}

bool ReadAlarmSettings(TXmlElement element, std::vector<TAlarmRule>& rules, bool& noReading, std::string& problem)
{
    rules.clear();
    noReading = true;
    for (TXmlElement child = element.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element)
            continue;
        const std::string name = LocalName(child);
        if (name != "Rule" && name != "NoReading")
            continue;
        std::string text;
        try {
            text = ElementText(child);
        } catch (const EXmlDocumentError& e) {
            problem = "Alarms\\" + name + ": " + e.what();
            return false;
        }
        if (name == "NoReading") {
            noReading = ReadSettingSwitch(text);
            continue;
        }
        TAlarmRule rule;
        const std::string why = ParseAlarmRule(text, rule);
        if (!why.empty()) {
            problem = "Alarms\\Rule: " + why;
            rules.clear();
            return false;
        }
        rules.push_back(rule);
    }
    return true;
}

int32_t WriteAlarmSettings(TQvXmlDoc& doc, TXmlElement element, const std::vector<TAlarmRule>& rules, bool noReading)
{
    int32_t r = doc.AddTextElement(element, "NoReading", noReading ? "true" : "false");
    for (const TAlarmRule& rule : rules) {
        if (r != XmlResult::Ok)
            break;
        r = doc.AddTextElement(element, "Rule", AlarmRuleSetting(rule));
    }
    return r;
}
