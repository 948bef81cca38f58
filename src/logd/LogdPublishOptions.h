#pragma once
#include "logd/LogdSettingsFile.h"
#include "publish/PublishSettings.h"

#include <cstdint>
#include <optional>
#include <string>

// The publishing options of the command line, each as given, or unset.
struct TPublishCommandLine {
    std::optional<std::string> address;      // --publish mqtt[s]://[user@]host[:port]/prefix
    std::optional<std::string> passwordFile; // --publish-password-file
    std::optional<std::string> ca;           // --publish-ca
    std::optional<std::string> interval;     // --publish-interval SECONDS
    std::optional<std::string> qos;          // --publish-qos 0|1
    std::optional<std::string> clientId;     // --publish-client-id
    std::optional<std::string> cert;         // --publish-cert
    std::optional<std::string> key;          // --publish-key
    std::optional<std::string> discovery;    // --publish-discovery on|off

    bool any() const;
};

// The publishing of the service: the settings file's Publishing element (`file`, read from `fileName`),
// each part overridden by the command line. --publish replaces the connection (host, port, TLS, user,
// password, prefix); the password comes from --publish-password-file or `passwordFromEnvironment`, else
// the file's, which is kept only for the same user on the same host. The publish interval is the file's or
// --publish-interval's; without either, zero (the service then publishes at its log interval).
//
// 0 when usable (publishing on or off), else an exit code of sysexits.h with `why`: EX_USAGE for options
// that cannot be used, EX_CONFIG for a settings file whose publishing cannot be used.
int MergePublishOptions(const TLogdFileSettings& file, const std::string& fileName, const TPublishCommandLine& given,
                        const char* passwordFromEnvironment, TPublishSettings& result, int32_t& publishIntervalMs,
                        std::string& why);
