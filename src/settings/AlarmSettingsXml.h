#pragma once
#include "record/AlarmRule.h"
#include "settings/QvXmlDoc.h"

#include <cstdint>
#include <string>
#include <vector>

// The alarms in the settings file: the element "Alarms" beside "ComPort", one "Rule" each in the text form
// of the service's --alarm option (ParseAlarmRule), and whether an outage raises "No reading":
//
//   <Alarms><NoReading>true</NoReading><Rule>concentration&gt;0.01,hysteresis=0.0005,delay=10,latch</Rule></Alarms>
//
// A file without the element has no rules; "No reading" is on unless the file says otherwise.

// The text form of a whole rule, read back by ParseAlarmRule as the same rule:
// "concentration>0.01,hysteresis=0.0005,delay=10,latch" (the defaults left out).
std::string AlarmRuleSetting(const TAlarmRule& rule);

// Reads the children of an "Alarms" element; unknown children are ignored. False with `problem` (naming
// the element) when a child holds anything but text or a rule does not read.
bool ReadAlarmSettings(TXmlElement element, std::vector<TAlarmRule>& rules, bool& noReading, std::string& problem);
// Appends the children of an "Alarms" element. XmlResult code.
int32_t WriteAlarmSettings(TQvXmlDoc& doc, TXmlElement element, const std::vector<TAlarmRule>& rules, bool noReading);
