#include "publish/ServiceOptions.h"

#include "publish/PasswordFile.h"

#include <charconv>

bool PublishSettingsFromOptions(const TServicePublishOptions& options, const char* password, TPublishSettings& settings,
                                std::string& error)
{
    settings = TPublishSettings{};
    const std::string& address = options.address;
    const auto fail = [&](const std::string& why) {
        error = "--publish " + address + ": " + why;
        return false;
    };
    std::string rest;
    if (address.rfind("mqtt://", 0) == 0) {
        rest = address.substr(7);
    } else if (address.rfind("mqtts://", 0) == 0) {
        rest = address.substr(8);
        settings.Tls = true;
    } else {
        return fail("the address must start with mqtt:// or mqtts://");
    }
    const size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    if (slash != std::string::npos)
        settings.TopicPrefix = rest.substr(slash + 1);

    const size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        settings.UserName = authority.substr(0, at);
        authority.erase(0, at + 1);
        if (settings.UserName.find(':') != std::string::npos)
            return fail(std::string("give the password in ") + PasswordVariable
                        + " or with --publish-password-file, never on the command line");
        if (settings.UserName.empty())
            return fail("the user name before @ is empty");
    }
    std::string port;
    if (!authority.empty() && authority.front() == '[') { // [IPv6]:port
        const size_t close = authority.find(']');
        if (close == std::string::npos)
            return fail("the address has [ without ]");
        settings.Host = authority.substr(1, close - 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':')
                return fail("unexpected text after ]");
            port = authority.substr(close + 2);
        }
    } else {
        const size_t colon = authority.find(':');
        settings.Host = authority.substr(0, colon);
        if (colon != std::string::npos)
            port = authority.substr(colon + 1);
    }
    if (settings.Host.empty())
        return fail("no broker host");
    if (!port.empty() || authority.back() == ':') {
        int value = 0;
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (ec != std::errc() || end != port.data() + port.size() || value < 1 || value > 65535)
            return fail("the port '" + port + "' is not a number from 1 to 65535");
        settings.Port = value;
    }
    if (!options.caFile.empty()) {
        if (!settings.Tls)
            return fail("--publish-ca needs an mqtts:// address");
        settings.CaFile = options.caFile;
    }
    if (!options.passwordFile.empty()) {
        TPasswordFile read = ReadPasswordFile(options.passwordFile);
        if (!read.error.empty()) {
            error = "--publish-password-file: " + read.error;
            return false;
        }
        settings.Password = std::move(read.password);
    } else if (password) {
        settings.Password = password;
    }
    if (!settings.Password.empty() && settings.UserName.empty())
        return fail("a password is given but no user name (mqtt://user@host/...)");
    settings.Enabled = true;
    const std::string problem = PublishSettingsProblem(settings);
    if (!problem.empty())
        return fail(problem);
    return true;
}
