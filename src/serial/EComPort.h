#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

// Exception of the serial port component: a component code (1..23) and the system error number (errno, or -1).
class EComPort : public std::runtime_error {
public:
    EComPort(int32_t code, int32_t systemError);
    explicit EComPort(int32_t code);

    int32_t SystemErrorCode;
    int32_t ErrorCode;
};

// Component error codes.
namespace ComErrorCode {
enum : int32_t {
    OpenFailed = 1,
    WriteFailed = 2,
    ReadFailed = 3,
    InvalidAsync = 4,
    PurgeFailed = 5,
    AsyncStatus = 6,
    SetStateFailed = 7,
    SetTimeoutsFailed = 8,
    SetupCommFailed = 9,
    ClearErrorFailed = 10,
    ModemStatusFailed = 11,
    EscapeFailed = 12,
    TransmitCharFailed = 13,
    SetWhileConnected = 14,
    EnumPortsFailed = 15,
    StoreFailed = 16,
    LoadFailed = 17,
    LinkFailed = 18,
    LedState = 19,
    WaitWithThread = 20,
    WaitFailed = 21,
    RxBufLinked = 22,
    RegistryError = 23
};
}

// The 23 message texts, indexed 1..23, filled by RegisterPortErrorTexts.
const std::string& PortErrorText(int32_t code);

// Registers the text domain "cport" with gettext (catalogues under localeDir, or the system's when null)
// and fills the message table with the translated texts. Call once at program start, before any window.
void RegisterPortErrorTexts(const char* localeDir = nullptr);

// A setting outside what the driver can hold (negative time-out other than -1, negative queue size, ...).
class ERangeError : public std::out_of_range {
public:
    ERangeError();
};
