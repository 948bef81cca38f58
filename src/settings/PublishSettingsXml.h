#pragma once
#include "publish/PublishSettings.h"
#include "settings/QvXmlDoc.h"

#include <cstdint>
#include <string>

// The publishing settings in the settings file: the element "Publishing" beside "ComPort",
//
//   <Publishing><Enabled>true</Enabled><Host>broker.local</Host><Port>1883</Port>...</Publishing>
//
// A file without the element means off.
//
// A switch in the settings file: "true" or "1", in any letter case and between blanks, is on; anything
// else is off.
bool ReadSettingSwitch(const std::string& text);

// Reads the children of a "Publishing" element; unknown children are ignored. False with `error` (naming
// the element) when a child holds anything but text or a number does not read.
bool ReadPublishSettings(TXmlElement element, TPublishSettings& s, std::string& error);
// Appends the children of a "Publishing" element. XmlResult code.
int32_t WritePublishSettings(TQvXmlDoc& doc, TXmlElement element, const TPublishSettings& s);
