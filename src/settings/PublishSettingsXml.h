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
// Reads the children of a "Publishing" element; unknown children are ignored. False with `error` (naming
// the element) when a child holds anything but text or a number does not read.
bool ReadPublishSettings(TXmlElement element, TPublishSettings& s, std::string& error);
// Appends the children of a "Publishing" element. XmlResult code.
int32_t WritePublishSettings(TQvXmlDoc& doc, TXmlElement element, const TPublishSettings& s);
