#include "serial/CPort.h"
#include "support/FakeComPlatform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::Field;
using ::testing::Throws;

namespace {

// A port whose handlers append their names to a journal.
struct JournalPort {
    std::vector<std::string> journal; // outlives the port, whose destructor raises handlers
    TComPort port;
    JournalPort()
    {
        port.OnBeforeOpen = [this](QObject*) { journal.push_back("BeforeOpen"); };
        port.OnAfterOpen = [this](QObject*) { journal.push_back("AfterOpen"); };
        port.OnBeforeClose = [this](QObject*) { journal.push_back("BeforeClose"); };
        port.OnAfterClose = [this](QObject*) { journal.push_back("AfterClose"); };
        port.OnCTSChange = [this](QObject*, bool on) { journal.push_back(std::string("CTS:") + (on ? "1" : "0")); };
        port.OnDSRChange = [this](QObject*, bool on) { journal.push_back(std::string("DSR:") + (on ? "1" : "0")); };
        port.OnRLSDChange = [this](QObject*, bool on) { journal.push_back(std::string("RLSD:") + (on ? "1" : "0")); };
    }
};

class ComPortSettings : public ::testing::Test {
protected:
    FakeComPlatform fake;
    ScopedComPlatform scoped{&fake};
};

} // namespace

TEST(ComPortDefaults, NewComponentHasDocumentedDefaults)
{
    TComPort port;
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_EQ(port.Parity().Bits(), prNone);
    EXPECT_EQ(port.StopBits(), sbOneStopBit);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
    EXPECT_EQ(port.Events(), AllComEvents);
    EXPECT_EQ(port.SyncMethod(), smThreadSync);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    EXPECT_EQ(port.Buffer().OutputSize(), 1024);
    EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
    EXPECT_EQ(port.Timeouts().ReadTotalMultiplier(), 0);
    EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 0);
    EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
    EXPECT_EQ(EventsToMask(TComEvents{evRxFlag, evRx80Full}), 0x0402u);
    EXPECT_EQ(MaskToEvents(0x0402 | 0x8000), (TComEvents{evRxFlag, evRx80Full}));
}

TEST(ComPortDefaults, EmptyTransfersNeedNoDevice)
{
    TComPort port; // closed
    std::string text;
    EXPECT_EQ(port.WriteText(""), 0);
    EXPECT_EQ(port.ReadText(text, 0), 0);
    EXPECT_THAT([&] { port.WriteText("N\r\n"); }, Throws<EComPort>(Field(&EComPort::ErrorCode, 2)));
    EXPECT_THAT([&] { port.ReadText(text, 1); }, Throws<EComPort>(Field(&EComPort::ErrorCode, 3)));
}

TEST(ComPortDefaults, FlowControlPresetsReadBackFromTheirFourFields)
{
    TComPort port;
    TComFlowControl& fc = port.FlowControl();
    fc.SetFlowControl(fcSoftware);
    EXPECT_EQ(fc.FlowControl(), fcSoftware);
    fc.SetControlDTR(dtrEnable);
    EXPECT_EQ(fc.FlowControl(), fcSoftware);
    fc.SetOutDSRFlow(true);
    EXPECT_EQ(fc.FlowControl(), fcSoftware);
    fc.SetControlRTS(rtsEnable);
    EXPECT_EQ(fc.FlowControl(), fcCustom);
    fc.SetFlowControl(fcHardware);
    EXPECT_EQ(fc.FlowControl(), fcHardware);
    EXPECT_EQ(fc.ControlDTR(), dtrEnable); // presets leave the other fields alone
    fc.SetFlowControl(fcCustom);
    EXPECT_EQ(fc.FlowControl(), fcHardware);
}

TEST(ComPortDefaults, OddBufferSizesAreStoredOneLower)
{
    TComPort port;
    port.Buffer().SetInputSize(1025);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    port.Buffer().SetOutputSize(7);
    EXPECT_EQ(port.Buffer().OutputSize(), 6);
    port.Buffer().SetOutputSize(-3);
    EXPECT_EQ(port.Buffer().OutputSize(), -3);
}

TEST_F(ComPortSettings, OpenAppliesQueueLineTimeoutsThenStartsThreadAndReportsLines)
{
    JournalPort p;
    fake.s.modem = ComModem::CTS | ComModem::RLSD;
    p.port.OpenPort();
    EXPECT_TRUE(p.port.Connected());
    EXPECT_TRUE(p.port.ThreadCreated());
    EXPECT_THAT(fake.calls(), ElementsAre("open:COM1", "setupComm:1024/1024", "setCommState", "setCommTimeouts",
                                          "setCommMask:1535", "modemStatus", "modemStatus", "modemStatus"));
    EXPECT_THAT(p.journal, ElementsAre("BeforeOpen", "AfterOpen", "CTS:1", "DSR:0", "RLSD:1"));
    p.journal.clear();
    p.port.ClosePort();
    EXPECT_FALSE(p.port.Connected());
    EXPECT_THAT(p.journal, ElementsAre("CTS:0", "DSR:0", "RLSD:0", "BeforeClose", "AfterClose"));
}

TEST_F(ComPortSettings, OpenWithNoEventsStartsNoThreadButRaisesHandlers)
{
    JournalPort p;
    p.port.SetEvents({});
    p.port.OpenPort();
    EXPECT_FALSE(p.port.ThreadCreated());
    EXPECT_THAT(p.journal, ElementsAre("BeforeOpen", "AfterOpen", "CTS:0", "DSR:0", "RLSD:0"));
}

TEST_F(ComPortSettings, LineSettingsMapFromTheGroups)
{
    TComPort port;
    port.SetBaudRate(br57600);
    port.FlowControl().SetFlowControl(fcSoftware);
    port.SetEventChar('\r');
    port.Parity().SetReplace(true);
    port.Parity().SetReplaceChar('?');
    port.OpenPort();
    ASSERT_EQ(fake.s.lineSettings.size(), 1u);
    const ComLineSettings& s = fake.s.lineSettings[0];
    EXPECT_EQ(s.baudRate, 57600);
    EXPECT_EQ(s.byteSize, 8);
    EXPECT_TRUE(s.outX);
    EXPECT_TRUE(s.inX);
    EXPECT_EQ(s.rtsControl, 0);
    EXPECT_EQ(s.evtChar, '\r');
    EXPECT_EQ(s.xonLim, 256);
    EXPECT_FALSE(s.errorChar); // Replace without Check leaves replacement off
    EXPECT_EQ(s.errorCharValue, 0);
}

TEST_F(ComPortSettings, BatchedChangeOfAnOpenPortIsPushedOnceInOrder)
{
    TComPort port;
    port.OpenPort();
    fake.clearCalls();
    port.BeginSettingsChange();
    port.SetBaudRate(br57600);
    port.SetDataBits(dbSeven);
    port.SetStopBits(sbTwoStopBits);
    port.Parity().SetBits(prEven);
    port.FlowControl().SetFlowControl(fcSoftware);
    EXPECT_TRUE(fake.calls().empty());
    port.EndSettingsChange();
    EXPECT_THAT(fake.calls(), ElementsAre("setupComm:1024/1024", "setCommState", "setCommTimeouts"));
    fake.clearCalls();
    port.EndSettingsChange(); // unmatched: nothing
    EXPECT_TRUE(fake.calls().empty());
}

TEST_F(ComPortSettings, UnchangedValuesDoNotTouchTheDriver)
{
    TComPort port;
    port.OpenPort();
    fake.clearCalls();
    port.Buffer().SetInputSize(1024);
    port.SetBaudRate(br9600);
    port.Timeouts().SetReadInterval(-1);
    EXPECT_TRUE(fake.calls().empty());
    port.Buffer().SetInputSize(2049);
    port.Timeouts().SetWriteTotalConstant(10);
    port.FlowControl().SetFlowControl(fcNone); // presets apply even when equal
    EXPECT_THAT(fake.calls(), ElementsAre("setupComm:2048/1024", "setCommTimeouts", "setCommState"));
}

TEST_F(ComPortSettings, PortChangeReopensAnOpenPortComparingCaseSensitively)
{
    JournalPort p;
    p.port.SetPort("ttyUSB0");
    p.port.OpenPort();
    p.journal.clear();
    p.port.SetPort("ttyUSB0");
    EXPECT_TRUE(p.journal.empty());
    p.port.SetPort("TTYUSB0");
    EXPECT_THAT(p.journal, ElementsAre("CTS:0", "DSR:0", "RLSD:0", "BeforeClose", "AfterClose", "BeforeOpen",
                                       "AfterOpen", "CTS:0", "DSR:0", "RLSD:0"));
    EXPECT_EQ(fake.s.opens, 2);
}

TEST_F(ComPortSettings, SyncMethodIsRefusedWhileOpen)
{
    TComPort port;
    port.SetSyncMethod(smNone);
    EXPECT_EQ(port.SyncMethod(), smNone);
    port.OpenPort();
    try {
        port.SetSyncMethod(smThreadSync);
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode, 14);
        EXPECT_EQ(e.SystemErrorCode, -1);
        EXPECT_STREQ(e.what(), "Cannot set property while connected");
    }
    EXPECT_EQ(port.SyncMethod(), smNone);
}

TEST_F(ComPortSettings, FailedOpenLeavesThePortClosed)
{
    JournalPort p;
    fake.s.openErrno = ENOENT;
    try {
        p.port.OpenPort();
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode, 1);
        EXPECT_EQ(e.SystemErrorCode, ENOENT);
        EXPECT_EQ(std::string(e.what()), "Unable to open com port (win error code: " + std::to_string(ENOENT) + ")");
    }
    EXPECT_FALSE(p.port.Connected());
    EXPECT_THAT(p.journal, ElementsAre("BeforeOpen"));
}

TEST_F(ComPortSettings, FailureWhileApplyingClosesAgainWithTheSameError)
{
    JournalPort p;
    fake.s.failCall = "setCommState";
    fake.s.failErrno = EINVAL;
    try {
        p.port.OpenPort();
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode, 7);
        EXPECT_EQ(e.SystemErrorCode, EINVAL);
    }
    EXPECT_FALSE(p.port.Connected());
    EXPECT_FALSE(p.port.ThreadCreated());
    EXPECT_THAT(p.journal, ElementsAre("BeforeOpen"));

    fake.s.failCall.clear();
    TComPort ranged;
    ranged.Timeouts().SetReadTotalConstant(-2);
    EXPECT_THROW(ranged.OpenPort(), ERangeError);
    EXPECT_FALSE(ranged.Connected());
    TComPort big;
    big.Buffer().SetInputSize(262144);
    EXPECT_THROW(big.OpenPort(), ERangeError);
}

TEST_F(ComPortSettings, FailedPurgeKeepsThePortOpen)
{
    TComPort port;
    port.OpenPort();
    fake.s.failCall = "purge";
    fake.s.failErrno = EIO;
    try {
        port.ClosePort();
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode, 5);
    }
    EXPECT_TRUE(port.Connected());
    fake.s.failCall.clear();
    port.SetConnected(false);
    EXPECT_FALSE(port.Connected());
}

TEST_F(ComPortSettings, EventsAreRaisedInTheFixedOrderOnlyWhenThereIsSomethingToReport)
{
    TComPort port;
    std::vector<std::string> journal;
    port.OnError = [&](QObject*, TComErrors) { journal.push_back("Error"); };
    port.OnRxChar = [&](QObject*, int32_t n) { journal.push_back("RxChar:" + std::to_string(n)); };
    port.OnRxFlag = [&](QObject*) { journal.push_back("RxFlag"); };
    port.OnRx80Full = [&](QObject*) { journal.push_back("Rx80Full"); };
    port.OnTxEmpty = [&](QObject*) { journal.push_back("TxEmpty"); };
    port.OpenPort();
    // No queued bytes and no errors: neither OnRxChar nor OnError.
    port.RaiseEvents({evRx80Full, evRxFlag, evRxChar, evError});
    EXPECT_THAT(journal, ElementsAre("RxFlag", "Rx80Full"));
    journal.clear();
    fake.s.errors = ComErr::Frame;
    fake.s.inQueue = 4;
    port.RaiseEvents({evRx80Full, evRxFlag, evTxEmpty, evRxChar, evError});
    EXPECT_THAT(journal, ElementsAre("Error", "RxChar:4", "TxEmpty", "RxFlag", "Rx80Full"));
}

TEST_F(ComPortSettings, ParityErrorsAreReportedOnlyWithCheckOn)
{
    TComPort port;
    port.OpenPort();
    fake.s.errors = ComErr::RxParity | ComErr::Overrun;
    EXPECT_EQ(port.LineErrors(), (TComErrors{ceOverrun}));
    port.Parity().SetCheck(true);
    fake.s.errors = ComErr::RxParity;
    EXPECT_EQ(port.LineErrors(), (TComErrors{ceRxParity}));
}

TEST_F(ComPortSettings, ClosingWhileAHandOverWaitsCompletesItFirst)
{
    JournalPort j;
    j.port.SetEvents({evRxFlag});
    j.port.OnRxFlag = [&](QObject*) {
        j.journal.push_back("RxFlag");
        j.port.ClosePort(); // run by the close below: closes nothing twice
    };
    j.port.OpenPort();
    j.journal.clear();
    fake.post(ComMask::RxFlag);
    ASSERT_TRUE(fake.waitTaken()); // the event thread hands the report over; the main thread has not run it
    j.port.ClosePort();
    EXPECT_THAT(j.journal, ElementsAre("CTS:0", "DSR:0", "RLSD:0", "BeforeClose", "RxFlag", "AfterClose"));
}
