#include "serial/EComPort.h"

#include <array>
#include <libintl.h>

namespace {
constexpr const char* TextDomain = "cport";

constexpr std::array<const char*, 23> EnglishTexts{
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

std::array<std::string, 23>& texts()
{
    static std::array<std::string, 23> table = [] {
        std::array<std::string, 23> t;
        for (size_t i = 0; i < t.size(); ++i)
            t[i] = EnglishTexts[i];
        return t;
    }();
    return table;
}

std::string withSystemError(int32_t code, int32_t systemError)
{
    const char* suffix = dgettext(TextDomain, " (win error code: %d)");
    char buf[256];
    // The suffix is a catalogue's translation of the literal above, with the same conversion.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    snprintf(buf, sizeof buf, suffix, systemError);
#pragma GCC diagnostic pop
    return PortErrorText(code) + buf;
}
} // namespace

const std::string& PortErrorText(int32_t code)
{
    static const std::string none;
    return code >= 1 && code <= 23 ? texts()[static_cast<size_t>(code - 1)] : none;
}

void RegisterPortErrorTexts(const char* localeDir)
{
    if (localeDir)
        bindtextdomain(TextDomain, localeDir);
    bind_textdomain_codeset(TextDomain, "UTF-8");
    for (size_t i = 0; i < EnglishTexts.size(); ++i)
        texts()[i] = dgettext(TextDomain, EnglishTexts[i]);
}

EComPort::EComPort(int32_t code, int32_t systemError)
    : std::runtime_error(withSystemError(code, systemError)), SystemErrorCode(systemError), ErrorCode(code)
{}

EComPort::EComPort(int32_t code) : std::runtime_error(PortErrorText(code)), SystemErrorCode(-1), ErrorCode(code) {}

ERangeError::ERangeError() : std::out_of_range("Range check error") {}
