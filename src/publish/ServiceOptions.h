#pragma once
#include "publish/PublishSettings.h"

#include <string>

// The service's publishing options:
//   --publish mqtt://[user@]host[:port]/prefix   (mqtts:// for TLS; no prefix: the default one)
//   --publish-ca FILE                            (mqtts:// only)
// The password never comes from the command line: an address with "user:password@" is refused. It comes
// from a file (see PasswordFile.h) or the environment variable below.
struct TServicePublishOptions {
    std::string address;
    std::string caFile = {};
};

inline constexpr const char* PasswordVariable = "VELMORA_MQTT_PASSWORD";

// Publishing settings (enabled) from the options; `password` is the broker password, or null for none.
// False with an error for the operator when the address cannot be used.
bool PublishSettingsFromOptions(const TServicePublishOptions& options, const char* password, TPublishSettings& settings,
                                std::string& error);
