#include "serial/ComPort.h"

#include "serial/ComThread.h"

#include <cerrno>
#include <limits>
#include <sys/stat.h>

namespace {

// Errors of a transfer that mean the device has gone (unplugged, hung up, reset).
bool meansDeviceGone(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
}

bool portExists(const std::string& port)
{
    struct stat st {};
    return ::stat(PortDevicePath(port).c_str(), &st) == 0;
}

bool namedByLink(const std::string& port)
{
    struct stat st {};
    return ::lstat(PortDevicePath(port).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

} // namespace

// ---- the port -------------------------------------------------------------------------------------

TCustomComPort::TCustomComPort(QObject* owner) : QObject(owner)
{
    FParity = std::make_unique<TComParity>(this);
    FFlowControl = std::make_unique<TComFlowControl>(this);
    FTimeouts = std::make_unique<TComTimeouts>(this);
    FBuffer = std::make_unique<TComBuffer>(this);
}

TCustomComPort::~TCustomComPort()
{
    try {
        ClosePort();
    } catch (...) {
        // The purge failed: stop the thread and release the device all the same.
        FEventThread.reset();
        FDevice.reset();
        FConnected = false;
    }
    FBuffer.reset();
    FFlowControl.reset();
    FTimeouts.reset();
    FParity.reset();
}

ComDevice& TCustomComPort::device(int code)
{
    if (!FDevice)
        throw EComPort(code, EBADF);
    return *FDevice;
}

void TCustomComPort::AcquireHandle()
{
    int error = 0;
    FDevice = CurrentComPlatform().open(FPort, error);
    if (!FDevice)
        throw EComPort(ComErrorCode::OpenFailed, error);
}

void TCustomComPort::ReleaseHandle()
{
    FDevice.reset();
}

void TCustomComPort::OpenPort()
{
    if (FConnected)
        return;
    FireBeforeOpen();
    AcquireHandle();
    FConnected = true;
    try {
        ApplyAllSettings();
    } catch (...) {
        ReleaseHandle();
        FConnected = false;
        throw;
    }
    if (FEvents.empty()) {
        FThreadCreated = false;
    } else {
        FDevice->setCommMask(EventsToMask(FEvents)); // result ignored
        try {
            FEventThread = std::make_unique<TComThread>(this, FDevice.get());
            FEventThread->start();
        } catch (...) { // out of threads or descriptors: the port stays closed
            FEventThread.reset();
            ReleaseHandle();
            FConnected = false;
            throw;
        }
        FThreadCreated = true;
    }
    FDeviceLost = false;
    if (!namedByLink(FPort)) {
        PortIdentity noted = IdentifyPort(FPort, FPortRoots);
        if (!noted.empty()) // keeps what a reopen followed when the system has not named the device yet
            FIdentity = std::move(noted);
    }
    FireAfterOpen();
    FireCTSChange(LineSignals().contains(lsCTS));
    FireDSRChange(LineSignals().contains(lsDSR));
    FireRLSDChange(LineSignals().contains(lsRLSD));
}

void TCustomComPort::ClosePort()
{
    if (!FConnected || FClosing) // closed, or a handler run by the close below
        return;
    FireCTSChange(false);
    FireDSRChange(false);
    FireRLSDChange(false);
    FireBeforeClose();
    if (int err = FDevice->purge(true, true, false, false))
        throw EComPort(ComErrorCode::PurgeFailed, err);
    if (FThreadCreated) {
        FClosing = true;
        FEventThread->SignalStop();
        FEventThread->WaitEnded();
        FEventThread.reset();
        FClosing = false;
        FThreadCreated = false;
    }
    ReleaseHandle();
    FConnected = false;
    FireAfterClose();
}

std::string TCustomComPort::reopenFollowingIdentity()
{
    if (FConnected && !FDeviceLost)
        return FPort;
    ClosePort();
    if (!FIdentity.empty()) {
        const bool present = portExists(FPort);
        if (!present || IdentifyPort(FPort, FPortRoots).differsFrom(FIdentity)) {
            std::string moved = FindPortByIdentity(FIdentity, FPortRoots);
            if (!moved.empty())
                FPort = std::move(moved);
            else if (present) // the name is another adapter's now: never talk to that one
                throw EComPort(ComErrorCode::OpenFailed, ENODEV);
        }
    }
    OpenPort();
    return FPort;
}

void TCustomComPort::SetConnected(bool value)
{
    if (value == FConnected)
        return;
    if (value)
        OpenPort();
    else
        ClosePort();
}

void TCustomComPort::BeginSettingsChange()
{
    ++FUpdateCount;
}

void TCustomComPort::EndSettingsChange()
{
    if (FUpdateCount <= 0)
        return;
    if (--FUpdateCount == 0)
        ApplyAllSettings();
}

void TCustomComPort::ApplyAllSettings()
{
    ApplyQueueSizes();
    ApplyLineSettings();
    ApplyTimeoutSettings();
}

void TCustomComPort::ApplyLineSettings()
{
    if (!FConnected || FUpdateCount > 0)
        return;
    ComLineSettings dcb;
    if (FBaudRate == brCustom) {
        if (FCustomBaudRate < 0)
            throw ERangeError();
        dcb.baudRate = FCustomBaudRate;
    } else {
        dcb.baudRate = BaudRateValue(FBaudRate);
    }
    const int32_t quarter = FBuffer->InputSize() / 4;
    if (quarter < 0 || quarter > 65535)
        throw ERangeError();
    const TComFlowControl& fc = *FFlowControl;
    dcb.parityCheck = FParity->Check();
    dcb.outxCtsFlow = fc.OutCTSFlow();
    dcb.outxDsrFlow = fc.OutDSRFlow();
    dcb.dtrControl = fc.ControlDTR();
    dcb.dsrSensitivity = fc.DSRSensitivity();
    dcb.txContinueOnXoff = fc.TxContinueOnXoff();
    dcb.outX = fc.XonXoffOut();
    dcb.inX = fc.XonXoffIn();
    dcb.errorChar = FParity->Check() && FParity->Replace();
    dcb.discardNull = FDiscardNull;
    dcb.rtsControl = fc.ControlRTS();
    dcb.xonLim = dcb.xoffLim = static_cast<uint16_t>(quarter);
    dcb.byteSize = static_cast<uint8_t>(5 + FDataBits);
    dcb.parity = FParity->Bits();
    dcb.stopBits = FStopBits;
    dcb.xonChar = fc.XonChar();
    dcb.xoffChar = fc.XoffChar();
    dcb.errorCharValue = dcb.errorChar ? FParity->ReplaceChar() : 0;
    dcb.evtChar = FEventChar;
    if (int err = FDevice->setCommState(dcb))
        throw EComPort(ComErrorCode::SetStateFailed, err);
}

void TCustomComPort::ApplyTimeoutSettings()
{
    if (!FConnected || FUpdateCount > 0)
        return;
    auto convert = [](int32_t v) -> uint32_t {
        if (v == -1)
            return std::numeric_limits<uint32_t>::max();
        if (v < 0)
            throw ERangeError();
        return static_cast<uint32_t>(v);
    };
    ComTimeoutSettings t;
    t.readInterval = convert(FTimeouts->ReadInterval());
    t.readTotalMultiplier = convert(FTimeouts->ReadTotalMultiplier());
    t.readTotalConstant = convert(FTimeouts->ReadTotalConstant());
    t.writeTotalMultiplier = convert(FTimeouts->WriteTotalMultiplier());
    t.writeTotalConstant = convert(FTimeouts->WriteTotalConstant());
    if (int err = FDevice->setCommTimeouts(t))
        throw EComPort(ComErrorCode::SetTimeoutsFailed, err);
}

void TCustomComPort::ApplyQueueSizes()
{
    if (!FConnected || FUpdateCount > 0)
        return;
    if (FBuffer->InputSize() < 0 || FBuffer->OutputSize() < 0)
        throw ERangeError();
    if (int err = FDevice->setupComm(FBuffer->InputSize(), FBuffer->OutputSize()))
        throw EComPort(ComErrorCode::SetupCommFailed, err);
}

TLineSignals TCustomComPort::LineSignals()
{
    uint32_t status = 0;
    if (int err = device(ComErrorCode::ModemStatusFailed).modemStatus(status))
        throw EComPort(ComErrorCode::ModemStatusFailed, err);
    TLineSignals lines;
    if (status & ComModem::CTS)
        lines.insert(lsCTS);
    if (status & ComModem::DSR)
        lines.insert(lsDSR);
    if (status & ComModem::Ring)
        lines.insert(lsRing);
    if (status & ComModem::RLSD)
        lines.insert(lsRLSD);
    return lines;
}

// ---- transfers ------------------------------------------------------------------------------------

int32_t TCustomComPort::WriteText(const std::string& Text)
{
    if (Text.empty())
        return 0; // no transfer: needs no device
    int32_t written = 0;
    if (int err = device(ComErrorCode::WriteFailed).write(Text.data(), static_cast<int32_t>(Text.size()), written))
        transferFailed(ComErrorCode::WriteFailed, err);
    return written;
}

int32_t TCustomComPort::ReadText(std::string& Text, int32_t Count)
{
    if (Count <= 0) {
        Text.clear(); // no transfer: needs no device
        return 0;
    }
    ComDevice& dev = device(ComErrorCode::ReadFailed);
    Text.resize(static_cast<size_t>(Count));
    int32_t got = 0;
    if (int err = dev.read(Text.data(), Count, got)) {
        Text.clear();
        transferFailed(ComErrorCode::ReadFailed, err);
    }
    Text.resize(static_cast<size_t>(got));
    return got;
}

int32_t TCustomComPort::InputQueueCount()
{
    uint32_t errors = 0;
    int32_t inQueue = 0;
    if (int err = device(ComErrorCode::ClearErrorFailed).clearCommError(errors, inQueue))
        transferFailed(ComErrorCode::ClearErrorFailed, err);
    return inQueue;
}

void TCustomComPort::PurgeQueues(bool Input, bool Output)
{
    if (int err = device(ComErrorCode::PurgeFailed).purge(false, false, Output, Input))
        transferFailed(ComErrorCode::PurgeFailed, err);
}

TComErrors TCustomComPort::LineErrors()
{
    uint32_t flags = 0;
    int32_t inQueue = 0;
    if (int err = device(ComErrorCode::ClearErrorFailed).clearCommError(flags, inQueue))
        transferFailed(ComErrorCode::ClearErrorFailed, err);
    TComErrors errors;
    if (flags & ComErr::Frame)
        errors.insert(ceFrame);
    if ((flags & ComErr::RxParity) && FParity->Check())
        errors.insert(ceRxParity);
    if (flags & ComErr::Overrun)
        errors.insert(ceOverrun);
    if (flags & ComErr::Break)
        errors.insert(ceBreak);
    if (flags & ComErr::IOE)
        errors.insert(ceIO);
    if (flags & ComErr::Mode)
        errors.insert(ceMode);
    if (flags & ComErr::RxOver)
        errors.insert(ceRxOver);
    if (flags & ComErr::TxFull)
        errors.insert(ceTxFull);
    return errors;
}

// ---- events ---------------------------------------------------------------------------------------

void TCustomComPort::RaiseEvents(TComEvents events)
{
    for (TComEvent event : ComEventRaiseOrder)
        if (events.contains(event) && FConnected) // a handler may close the port
            processEvent(event);
}

void TCustomComPort::processEvent(TComEvent event)
{
    switch (event) {
    case evError: {
        const TComErrors errors = LineErrors();
        if (!errors.empty())
            FireError(errors);
        break;
    }
    case evRxChar: {
        const int32_t count = InputQueueCount();
        if (count > 0)
            FireRxChar(count);
        break;
    }
    case evTxEmpty: FireTxEmpty(); break;
    case evBreak: FireBreak(); break;
    case evRing: FireRing(); break;
    case evCTS: FireCTSChange(LineSignals().contains(lsCTS)); break;
    case evDSR: FireDSRChange(LineSignals().contains(lsDSR)); break;
    case evRxFlag: FireRxFlag(); break;
    case evRLSD: FireRLSDChange(LineSignals().contains(lsRLSD)); break;
    case evRx80Full: FireRx80Full(); break;
    }
}

void TCustomComPort::noteDeviceLost()
{
    if (!FConnected || FClosing || FDeviceLost)
        return;
    FDeviceLost = true;
    FireDeviceLost();
}

void TCustomComPort::transferFailed(int code, int error)
{
    if (meansDeviceGone(error))
        noteDeviceLost(); // a handler may close the port: nothing of the device is used after this
    throw EComPort(code, error);
}

// ---- property setters -----------------------------------------------------------------------------

void TCustomComPort::SetBaudRate(TBaudRate v)
{
    if (v == FBaudRate)
        return;
    FBaudRate = v;
    ApplyLineSettings();
}

void TCustomComPort::SetCustomBaudRate(int32_t v)
{
    if (v == FCustomBaudRate)
        return;
    FCustomBaudRate = v;
    ApplyLineSettings();
}

void TCustomComPort::SetPort(const std::string& v)
{
    FIdentity = {};
    if (!FConnected)
        FDeviceLost = false; // the loss was of the old device
    if (v == FPort)
        return;
    FPort = v;
    if (FConnected) {
        ClosePort();
        OpenPort();
    }
}

void TCustomComPort::SetStopBits(TStopBits v)
{
    if (v == FStopBits)
        return;
    FStopBits = v;
    ApplyLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits v)
{
    if (v == FDataBits)
        return;
    FDataBits = v;
    ApplyLineSettings();
}

void TCustomComPort::SetDiscardNull(bool v)
{
    if (v == FDiscardNull)
        return;
    FDiscardNull = v;
    ApplyLineSettings();
}

void TCustomComPort::SetEventChar(char v)
{
    if (v == FEventChar)
        return;
    FEventChar = v;
    ApplyLineSettings();
}

void TCustomComPort::SetSyncMethod(TSyncMethod v)
{
    if (FConnected)
        throw EComPort(ComErrorCode::SetWhileConnected);
    FSyncMethod = v;
}

// ---- raise operations -----------------------------------------------------------------------------

void TCustomComPort::FireRxChar(int32_t Count)
{
    if (OnRxChar)
        OnRxChar(this, Count);
}
void TCustomComPort::FireRxFlag()
{
    if (OnRxFlag)
        OnRxFlag(this);
}
void TCustomComPort::FireRx80Full()
{
    if (OnRx80Full)
        OnRx80Full(this);
}
void TCustomComPort::FireTxEmpty()
{
    if (OnTxEmpty)
        OnTxEmpty(this);
}
void TCustomComPort::FireBreak()
{
    if (OnBreak)
        OnBreak(this);
}
void TCustomComPort::FireRing()
{
    if (OnRing)
        OnRing(this);
}
void TCustomComPort::FireCTSChange(bool OnOff)
{
    if (OnCTSChange)
        OnCTSChange(this, OnOff);
}
void TCustomComPort::FireDSRChange(bool OnOff)
{
    if (OnDSRChange)
        OnDSRChange(this, OnOff);
}
void TCustomComPort::FireRLSDChange(bool OnOff)
{
    if (OnRLSDChange)
        OnRLSDChange(this, OnOff);
}
void TCustomComPort::FireError(TComErrors Errors)
{
    if (OnError)
        OnError(this, Errors);
}
void TCustomComPort::FireAfterOpen()
{
    if (OnAfterOpen)
        OnAfterOpen(this);
}
void TCustomComPort::FireAfterClose()
{
    if (OnAfterClose)
        OnAfterClose(this);
}
void TCustomComPort::FireBeforeOpen()
{
    if (OnBeforeOpen)
        OnBeforeOpen(this);
}
void TCustomComPort::FireBeforeClose()
{
    if (OnBeforeClose)
        OnBeforeClose(this);
}
void TCustomComPort::FireDeviceLost()
{
    if (OnDeviceLost)
        OnDeviceLost(this);
}
