#include "logd/LogdPublishOptions.h"

#include "publish/ServiceOptions.h"
#include "record/ValidateLib.h"

#include <sysexits.h>

namespace {

bool readSwitch(const std::string& text, bool& on)
{
    if (text == "on" || text == "yes" || text == "true" || text == "1")
        on = true;
    else if (text == "off" || text == "no" || text == "false" || text == "0")
        on = false;
    else
        return false;
    return true;
}

// The name of the first publishing option given other than --publish, for a message.
std::string firstGiven(const TPublishCommandLine& g)
{
    const std::pair<const std::optional<std::string>*, const char*> options[] = {
        {&g.passwordFile, "--publish-password-file"},
        {&g.ca, "--publish-ca"},
        {&g.interval, "--publish-interval"},
        {&g.qos, "--publish-qos"},
        {&g.clientId, "--publish-client-id"},
        {&g.cert, "--publish-cert"},
        {&g.key, "--publish-key"},
        {&g.discovery, "--publish-discovery"},
    };
    for (const auto& [value, name] : options)
        if (value->has_value())
            return name;
    return "--publish";
}

} // namespace

bool TPublishCommandLine::any() const
{
    return address || passwordFile || ca || interval || qos || clientId || cert || key || discovery;
}

int MergePublishOptions(const TLogdFileSettings& file, const std::string& fileName, const TPublishCommandLine& given,
                        const char* passwordFromEnvironment, TPublishSettings& result, int32_t& publishIntervalMs,
                        std::string& why)
{
    const auto usage = [&why](const std::string& text) {
        why = text;
        return EX_USAGE;
    };
    TPublishSettings s = file.publishing;
    if (given.address) {
        const TServicePublishOptions options{*given.address, given.passwordFile.value_or(""), given.ca.value_or("")};
        TPublishSettings connection;
        if (!PublishSettingsFromOptions(options, passwordFromEnvironment, connection, why))
            return EX_USAGE;
        // The file's password goes only to the broker and user it was stored for.
        if (connection.Password.empty() && connection.UserName == s.UserName && connection.Host == s.Host)
            connection.Password = s.Password;
        s.Host = connection.Host;
        s.Port = connection.Port;
        s.Tls = connection.Tls;
        s.UserName = connection.UserName;
        s.Password = connection.Password;
        s.TopicPrefix = connection.TopicPrefix;
        if (given.ca || !s.Tls)
            s.CaFile = connection.CaFile;
        s.Enabled = true;
    } else if (given.any() && !s.Enabled) {
        return usage(firstGiven(given) + " needs --publish, or a settings file that publishes");
    } else if (s.Enabled) {
        if (given.ca) {
            if (!s.Tls)
                return usage("--publish-ca: the broker of the settings file is not reached over TLS");
            s.CaFile = *given.ca;
        }
        if (given.passwordFile || passwordFromEnvironment) {
            // The password sources of the command line, read as --publish reads them.
            const TServicePublishOptions options{"mqtt://user@localhost", given.passwordFile.value_or(""), ""};
            TPublishSettings passwordOnly;
            if (!PublishSettingsFromOptions(options, passwordFromEnvironment, passwordOnly, why))
                return EX_USAGE;
            if (!passwordOnly.Password.empty()) {
                if (s.UserName.empty())
                    return usage("A broker password is given but the settings file names no user");
                s.Password = passwordOnly.Password;
            }
        }
    }
    if (given.interval) {
        const std::string& text = *given.interval;
        bool bad = text.size() > 9;
        try {
            bad = bad || IsInvalidIntegerMin(text, 1);
        } catch (const std::exception&) {
            bad = true;
        }
        if (bad)
            return usage("--publish-interval '" + text
                         + "': the publish interval must be a whole number of seconds, "
                           "at least 1");
        s.IntervalSeconds = std::stoi(text);
    }
    if (given.qos) {
        if (*given.qos != "0" && *given.qos != "1")
            return usage("--publish-qos '" + *given.qos + "': the QoS must be 0 or 1");
        s.QoS = *given.qos == "1" ? 1 : 0;
    }
    if (given.clientId)
        s.ClientId = *given.clientId;
    if (given.cert || given.key) {
        if (!s.Tls)
            return usage(std::string(given.cert ? "--publish-cert" : "--publish-key")
                         + " needs a broker reached over TLS (mqtts://)");
        if (given.cert)
            s.CertFile = *given.cert;
        if (given.key)
            s.KeyFile = *given.key;
    }
    if (given.discovery && !readSwitch(*given.discovery, s.HomeAssistant))
        return usage("--publish-discovery '" + *given.discovery + "': on or off");

    if (s.Enabled) {
        if (const std::string problem = PublishSettingsProblem(s); !problem.empty()) {
            const bool fromFile = file.publishing.Enabled && PublishSettingsProblem(file.publishing) == problem;
            if (given.any() && !fromFile)
                return usage("Publishing: " + problem);
            why = "The settings file \"" + fileName + "\": publishing: " + problem;
            return EX_CONFIG;
        }
    }
    publishIntervalMs = given.interval || file.hasPublishing ? s.IntervalSeconds * 1000 : 0;
    result = s;
    return 0;
}
