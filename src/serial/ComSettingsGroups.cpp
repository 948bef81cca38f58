// The four settings groups of the port: each change of a value applies its group on the owning port.
#include "serial/ComPort.h"

void TComTimeouts::set(int32_t& field, int32_t v)
{
    if (field == v)
        return;
    field = v;
    FComPort->ApplyTimeoutSettings();
}

void TComTimeouts::Assign(const TComTimeouts& s)
{
    FReadInterval = s.FReadInterval;
    FReadTotalMultiplier = s.FReadTotalMultiplier;
    FReadTotalConstant = s.FReadTotalConstant;
    FWriteTotalMultiplier = s.FWriteTotalMultiplier;
    FWriteTotalConstant = s.FWriteTotalConstant;
    FComPort->ApplyTimeoutSettings();
}

template <typename T> void TComFlowControl::set(T& field, T v)
{
    if (field == v)
        return;
    field = v;
    FComPort->ApplyLineSettings();
}

TFlowControl TComFlowControl::FlowControl() const
{
    if (FControlRTS == rtsHandshake && FOutCTSFlow && !FXonXoffIn && !FXonXoffOut)
        return fcHardware;
    if (FControlRTS == rtsDisable && !FOutCTSFlow && FXonXoffIn && FXonXoffOut)
        return fcSoftware;
    if (FControlRTS == rtsDisable && !FOutCTSFlow && !FXonXoffIn && !FXonXoffOut)
        return fcNone;
    return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl v)
{
    switch (v) {
    case fcHardware:
        FControlRTS = rtsHandshake;
        FOutCTSFlow = true;
        FXonXoffIn = FXonXoffOut = false;
        break;
    case fcSoftware:
        FControlRTS = rtsDisable;
        FOutCTSFlow = false;
        FXonXoffIn = FXonXoffOut = true;
        break;
    case fcNone:
        FControlRTS = rtsDisable;
        FOutCTSFlow = false;
        FXonXoffIn = FXonXoffOut = false;
        break;
    case fcCustom: break;
    }
    FComPort->ApplyLineSettings();
}

void TComFlowControl::Assign(const TComFlowControl& s)
{
    FOutCTSFlow = s.FOutCTSFlow;
    FOutDSRFlow = s.FOutDSRFlow;
    FControlDTR = s.FControlDTR;
    FControlRTS = s.FControlRTS;
    FXonXoffOut = s.FXonXoffOut;
    FXonXoffIn = s.FXonXoffIn;
    FDSRSensitivity = s.FDSRSensitivity;
    FTxContinueOnXoff = s.FTxContinueOnXoff;
    FXonChar = s.FXonChar;
    FXoffChar = s.FXoffChar;
    FComPort->ApplyLineSettings();
}

template <typename T> void TComParity::set(T& field, T v)
{
    if (field == v)
        return;
    field = v;
    FComPort->ApplyLineSettings();
}

void TComParity::Assign(const TComParity& s)
{
    FBits = s.FBits;
    FCheck = s.FCheck;
    FReplace = s.FReplace;
    FReplaceChar = s.FReplaceChar;
    FComPort->ApplyLineSettings();
}

void TComBuffer::set(int32_t& field, int32_t v)
{
    if (v > 0 && v % 2 == 1)
        --v;
    if (field == v)
        return;
    field = v;
    FComPort->ApplyQueueSizes();
}

void TComBuffer::Assign(const TComBuffer& s)
{
    FInputSize = s.FInputSize;
    FOutputSize = s.FOutputSize;
    FComPort->ApplyQueueSizes();
}

// The inline setters of the groups use these.
template void TComFlowControl::set<bool>(bool&, bool);
template void TComFlowControl::set<char>(char&, char);
template void TComFlowControl::set<TDTRFlowControl>(TDTRFlowControl&, TDTRFlowControl);
template void TComFlowControl::set<TRTSFlowControl>(TRTSFlowControl&, TRTSFlowControl);
template void TComParity::set<bool>(bool&, bool);
template void TComParity::set<char>(char&, char);
template void TComParity::set<TParityBits>(TParityBits&, TParityBits);
