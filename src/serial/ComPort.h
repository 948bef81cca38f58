#pragma once
#include "serial/ComPlatform.h"
#include "serial/ComTypes.h"
#include "serial/EComPort.h"
#include "serial/PortIdentity.h"

#include <QObject>
#include <functional>
#include <memory>
#include <string>

class TCustomComPort;
class TComThread;

using TNotifyEvent = std::function<void(QObject* Sender)>;
using TRxCharEvent = std::function<void(QObject* Sender, int32_t Count)>;
using TRxBufEvent = std::function<void(QObject* Sender, const void* Buffer, int32_t Count)>;
using TComSignalEvent = std::function<void(QObject* Sender, bool OnOff)>;
using TComErrorEvent = std::function<void(QObject* Sender, TComErrors Errors)>;

// Read and write time-outs in milliseconds; -1 means "all ones" (read returns at once with what is queued).
class TComTimeouts {
public:
    explicit TComTimeouts(TCustomComPort* owner) : FComPort(owner) {}
    int32_t ReadInterval() const { return FReadInterval; }
    int32_t ReadTotalMultiplier() const { return FReadTotalMultiplier; }
    int32_t ReadTotalConstant() const { return FReadTotalConstant; }
    int32_t WriteTotalMultiplier() const { return FWriteTotalMultiplier; }
    int32_t WriteTotalConstant() const { return FWriteTotalConstant; }
    void SetReadInterval(int32_t v) { set(FReadInterval, v); }
    void SetReadTotalMultiplier(int32_t v) { set(FReadTotalMultiplier, v); }
    void SetReadTotalConstant(int32_t v) { set(FReadTotalConstant, v); }
    void SetWriteTotalMultiplier(int32_t v) { set(FWriteTotalMultiplier, v); }
    void SetWriteTotalConstant(int32_t v) { set(FWriteTotalConstant, v); }
    void Assign(const TComTimeouts& source);
    TCustomComPort* ComPort() const { return FComPort; }

private:
    void set(int32_t& field, int32_t v);
    TCustomComPort* FComPort;
    int32_t FReadInterval = -1;
    int32_t FReadTotalMultiplier = 0;
    int32_t FReadTotalConstant = 0;
    int32_t FWriteTotalMultiplier = 100;
    int32_t FWriteTotalConstant = 1000;
};

class TComFlowControl {
public:
    explicit TComFlowControl(TCustomComPort* owner) : FComPort(owner) {}
    bool OutCTSFlow() const { return FOutCTSFlow; }
    bool OutDSRFlow() const { return FOutDSRFlow; }
    TDTRFlowControl ControlDTR() const { return FControlDTR; }
    TRTSFlowControl ControlRTS() const { return FControlRTS; }
    bool XonXoffOut() const { return FXonXoffOut; }
    bool XonXoffIn() const { return FXonXoffIn; }
    bool DSRSensitivity() const { return FDSRSensitivity; }
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
    char XonChar() const { return FXonChar; }
    char XoffChar() const { return FXoffChar; }
    TFlowControl FlowControl() const; // derived from the four preset fields

    void SetOutCTSFlow(bool v) { set(FOutCTSFlow, v); }
    void SetOutDSRFlow(bool v) { set(FOutDSRFlow, v); }
    void SetControlDTR(TDTRFlowControl v) { set(FControlDTR, v); }
    void SetControlRTS(TRTSFlowControl v) { set(FControlRTS, v); }
    void SetXonXoffOut(bool v) { set(FXonXoffOut, v); }
    void SetXonXoffIn(bool v) { set(FXonXoffIn, v); }
    void SetDSRSensitivity(bool v) { set(FDSRSensitivity, v); }
    void SetTxContinueOnXoff(bool v) { set(FTxContinueOnXoff, v); }
    void SetXonChar(char v) { set(FXonChar, v); }
    void SetXoffChar(char v) { set(FXoffChar, v); }
    // Writes the preset's fields even when equal (nothing for fcCustom), then applies line settings.
    void SetFlowControl(TFlowControl v);
    void Assign(const TComFlowControl& source);
    TCustomComPort* ComPort() const { return FComPort; }

private:
    template <typename T> void set(T& field, T v);
    TCustomComPort* FComPort;
    bool FOutCTSFlow = false;
    bool FOutDSRFlow = false;
    TDTRFlowControl FControlDTR = dtrDisable;
    TRTSFlowControl FControlRTS = rtsDisable;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
    bool FDSRSensitivity = false;
    bool FTxContinueOnXoff = false;
    char FXonChar = 17;
    char FXoffChar = 19;
};

class TComParity {
public:
    explicit TComParity(TCustomComPort* owner) : FComPort(owner) {}
    TParityBits Bits() const { return FBits; }
    bool Check() const { return FCheck; }
    bool Replace() const { return FReplace; }
    char ReplaceChar() const { return FReplaceChar; }
    void SetBits(TParityBits v) { set(FBits, v); }
    void SetCheck(bool v) { set(FCheck, v); }
    void SetReplace(bool v) { set(FReplace, v); }
    void SetReplaceChar(char v) { set(FReplaceChar, v); }
    void Assign(const TComParity& source);
    TCustomComPort* ComPort() const { return FComPort; }

private:
    template <typename T> void set(T& field, T v);
    TCustomComPort* FComPort;
    TParityBits FBits = prNone;
    bool FCheck = false;
    bool FReplace = false;
    char FReplaceChar = 0;
};

class TComBuffer {
public:
    explicit TComBuffer(TCustomComPort* owner) : FComPort(owner) {}
    int32_t InputSize() const { return FInputSize; }
    int32_t OutputSize() const { return FOutputSize; }
    // A positive odd size is stored one lower.
    void SetInputSize(int32_t v) { set(FInputSize, v); }
    void SetOutputSize(int32_t v) { set(FOutputSize, v); }
    void Assign(const TComBuffer& source);
    TCustomComPort* ComPort() const { return FComPort; }

private:
    void set(int32_t& field, int32_t v);
    TCustomComPort* FComPort;
    int32_t FInputSize = 1024;
    int32_t FOutputSize = 1024;
};

// A serial port: line settings in four groups, open/close sequences, an event thread that hands
// driver events to the main thread, and synchronous transfers. Destroying it closes the port.
class TCustomComPort : public QObject {
    Q_OBJECT
public:
    explicit TCustomComPort(QObject* owner = nullptr);
    ~TCustomComPort() override;

    void OpenPort();
    void ClosePort();
    bool Connected() const { return FConnected; }
    void SetConnected(bool value);
    void BeginSettingsChange();
    void EndSettingsChange();
    virtual void ApplyAllSettings();
    virtual void ApplyLineSettings();
    virtual void ApplyTimeoutSettings();
    virtual void ApplyQueueSizes();
    TLineSignals LineSignals();

    // Transfers (see the event thread for when they are called)
    int32_t WriteText(const std::string& Text);
    int32_t ReadText(std::string& Text, int32_t Count);
    int32_t InputQueueCount();
    void PurgeQueues(bool Input, bool Output);
    TComErrors LineErrors();

    // Properties
    TBaudRate BaudRate() const { return FBaudRate; }
    void SetBaudRate(TBaudRate v);
    int32_t CustomBaudRate() const { return FCustomBaudRate; }
    void SetCustomBaudRate(int32_t v);
    const std::string& Port() const { return FPort; }
    void SetPort(const std::string& v);
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits v);
    TDataBits DataBits() const { return FDataBits; }
    void SetDataBits(TDataBits v);
    bool DiscardNull() const { return FDiscardNull; }
    void SetDiscardNull(bool v);
    char EventChar() const { return FEventChar; }
    void SetEventChar(char v);
    TComEvents Events() const { return FEvents; }
    void SetEvents(TComEvents v) { FEvents = v; }
    TSyncMethod SyncMethod() const { return FSyncMethod; }
    void SetSyncMethod(TSyncMethod v);
    TComBuffer& Buffer() { return *FBuffer; }
    TComParity& Parity() { return *FParity; }
    TComTimeouts& Timeouts() { return *FTimeouts; }
    TComFlowControl& FlowControl() { return *FFlowControl; }
    const TComBuffer& Buffer() const { return *FBuffer; }
    const TComParity& Parity() const { return *FParity; }
    const TComTimeouts& Timeouts() const { return *FTimeouts; }
    const TComFlowControl& FlowControl() const { return *FFlowControl; }
    void SetBuffer(const TComBuffer& v) { FBuffer->Assign(v); }
    void SetParity(const TComParity& v) { FParity->Assign(v); }
    void SetTimeouts(const TComTimeouts& v) { FTimeouts->Assign(v); }
    void SetFlowControl(const TComFlowControl& v) { FFlowControl->Assign(v); }
    bool ThreadCreated() const { return FThreadCreated; }

    // Handlers, called only if assigned; Sender is the port.
    TRxCharEvent OnRxChar;
    TRxBufEvent OnRxBuf;
    TNotifyEvent OnTxEmpty, OnBreak, OnRing, OnRxFlag, OnRx80Full;
    TComSignalEvent OnCTSChange, OnDSRChange, OnRLSDChange;
    TComErrorEvent OnError;
    TNotifyEvent OnAfterOpen, OnAfterClose, OnBeforeOpen, OnBeforeClose;
    // Raised on the main thread, once per open, when the device fails while open: the event thread met a
    // hang-up or an I/O error and has ended, or a transfer found the device gone (EIO, ENXIO, ENODEV,
    // EPIPE; the transfer then raises its EComPort as well). No further events arrive until the port is
    // closed and opened again.
    TNotifyEvent OnDeviceLost;
    // True from a loss of the device until the next successful open, or a port name set while closed.
    bool deviceLost() const { return FDeviceLost; }

    // The stable identity of the adapter, noted at each open (empty for a device without one, and for a
    // port named by a symbolic link, which is stable itself). Setting the port name forgets it.
    const PortIdentity& identity() const { return FIdentity; }
    // Where the identity is looked up (the system's folders unless a test points elsewhere).
    void setPortRoots(const PortRoots& roots) { FPortRoots = roots; }
    // Reopens a port that is closed or whose device was lost, following the adapter: when the port's name
    // is gone or now names another adapter, the port that carries the noted identity is opened and becomes
    // Port(). Returns Port(). Raises EComPort 1 as OpenPort does, also (ENODEV) when the name now belongs
    // to another adapter and this one is nowhere. An open port whose device is there is left alone.
    std::string reopenFollowingIdentity();

    // Processes the given events in the fixed order (called on the main thread by the hand-over).
    void RaiseEvents(TComEvents events);

protected:
    virtual void AcquireHandle();
    virtual void ReleaseHandle();

    virtual void FireRxChar(int32_t Count);
    virtual void FireRxFlag();
    virtual void FireRx80Full();
    virtual void FireTxEmpty();
    virtual void FireBreak();
    virtual void FireRing();
    virtual void FireCTSChange(bool OnOff);
    virtual void FireDSRChange(bool OnOff);
    virtual void FireRLSDChange(bool OnOff);
    virtual void FireError(TComErrors Errors);
    virtual void FireAfterOpen();
    virtual void FireAfterClose();
    virtual void FireBeforeOpen();
    virtual void FireBeforeClose();
    virtual void FireDeviceLost();

    ComDevice* Device() const { return FDevice.get(); }

private:
    friend class TComThread;
    void processEvent(TComEvent event);
    ComDevice& device(int code);
    // Main thread: the event thread ended on a failure, or a transfer found the device gone.
    void noteDeviceLost();
    // Raises EComPort `code` for a failed transfer, after noting a loss when `error` means one.
    [[noreturn]] void transferFailed(int code, int error);

    std::unique_ptr<TComThread> FEventThread;
    bool FThreadCreated = false;
    std::unique_ptr<ComDevice> FDevice;
    int32_t FUpdateCount = 0;
    bool FConnected = false;
    TBaudRate FBaudRate = br9600;
    int32_t FCustomBaudRate = 9600;
    std::string FPort = "COM1";
    TStopBits FStopBits = sbOneStopBit;
    TDataBits FDataBits = dbEight;
    bool FDiscardNull = false;
    char FEventChar = 0;
    TComEvents FEvents = AllComEvents;
    std::unique_ptr<TComBuffer> FBuffer;
    std::unique_ptr<TComParity> FParity;
    std::unique_ptr<TComTimeouts> FTimeouts;
    std::unique_ptr<TComFlowControl> FFlowControl;
    TSyncMethod FSyncMethod = smThreadSync;
    bool FClosing = false;
    bool FDeviceLost = false;
    PortIdentity FIdentity;
    PortRoots FPortRoots;
};

class TComPort : public TCustomComPort {
    Q_OBJECT
public:
    using TCustomComPort::TCustomComPort;
};
