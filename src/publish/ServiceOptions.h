#pragma once
#include "publish/PublishSettings.h"

#include <string>

// The service's publishing options:
//   --publish mqtt://[user@]host[:port]/prefix   (mqtts:// for TLS; no prefix: the default one)
//   --publish-password-file FILE                 (see PasswordFile.h; else the password given)
//   --publish-ca FILE                            (mqtts:// only)
// The password never comes from the command line: an address with "user:password@" is refused.
struct TServicePublishOptions {
    std::string address;
    std::string passwordFile = {};
    std::string caFile = {};
};

inline constexpr const char* PasswordVariable = "VELMORA_MQTT_PASSWORD";

// Publishing settings (enabled) from the options; `password` (the environment variable's value, or one
// read from a credential) is used without a password file, null for none. False with an error for the
// operator when the address or the password file cannot be used.
bool PublishSettingsFromOptions(const TServicePublishOptions& options, const char* password, TPublishSettings& settings,
                                std::string& error);
