#include "serial/PortList.h"
#include "serial/ComPort.h"
#include "serial/EComPort.h"
#include "serial/PortIdentity.h"
#include "support/FakeComPlatform.h"
#include "support/FakeTtyTree.h"
#include "support/TempDir.h"

#include <cerrno>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::Contains;
using ::testing::Field;
using ::testing::Not;
using ::testing::StartsWith;
using ::testing::Throws;
using Names = std::vector<std::string>;

TEST(PortList, EmptyInventoryReplacesOldContent)
{
    TempDir dir;
    FakeTtyTree tree(dir.file("class/tty"));
    Names ports{"stale"};
    ListSerialPorts(ports, tree.root());
    EXPECT_TRUE(ports.empty());
}

TEST(PortList, ListsTtysWithADeviceSortedAsText)
{
    TempDir dir;
    FakeTtyTree tree(dir.file("class/tty"));
    tree.addPort("COM3");
    tree.addPort("COM10");
    tree.addPort("COM2");
    tree.addPort("ttyUSB0");
    tree.addPort("ttyACM1");
    tree.addPort("com4");
    tree.addPort("tty0", false); // virtual console
    tree.addPort("ptmx", false);
    Names ports;
    ListSerialPorts(ports, tree.root());
    EXPECT_EQ(ports, (Names{"COM10", "COM2", "COM3", "com4", "ttyACM1", "ttyUSB0"}));
}

TEST(PortList, LeavesOutLegacyUartsThatAreAbsent)
{
    TempDir dir;
    FakeTtyTree tree(dir.file("class/tty"));
    tree.addPort("ttyS0", true, 4); // 16550A fitted
    tree.addPort("ttyS1", true, 0); // slot without a UART
    tree.addPort("ttyS2", true, 0);
    tree.addPort("ttyAMA0", true);
    Names ports;
    ListSerialPorts(ports, tree.root());
    EXPECT_EQ(ports, (Names{"ttyAMA0", "ttyS0"}));
}

TEST(PortList, UnreadableInventoryRaisesRegistryErrorAndKeepsList)
{
    TempDir dir;
    dir.write("notafolder", "x");
    struct Case {
        std::string root;
        int err;
    };
    for (const Case& c : {Case{dir.file("missing"), ENOENT}, Case{dir.file("notafolder"), ENOTDIR}}) {
        Names ports{"COM1"};
        try {
            ListSerialPorts(ports, c.root);
            ADD_FAILURE() << "no exception for " << c.root;
        } catch (const EComPort& e) {
            EXPECT_EQ(e.ErrorCode, 23);
            EXPECT_EQ(e.SystemErrorCode, c.err);
        }
        EXPECT_EQ(ports, Names{"COM1"});
    }
}

TEST(PortList, SystemInventoryIsReadable)
{
    if (!std::filesystem::is_directory("/sys/class/tty"))
        GTEST_SKIP() << "no sysfs tty class here";
    Names ports;
    EXPECT_NO_THROW(ListSerialPorts(ports));
    for (const std::string& name : ports)
        EXPECT_EQ(name.find('/'), std::string::npos) << name;
}

namespace {

// Device nodes stand in as plain files that a fake platform opens; the adapters' by-id links move.
struct PortIdentityTest : ::testing::Test {
    TempDir dir;
    FakeTtyTree tree{dir.file("class/tty")};
    FakeComPlatform fake;
    ScopedComPlatform scoped{&fake};
    TComPort port;
    const std::string ours = "usb-Velmora_Sensor_A1B2-if00-port0";

    std::string plug(const std::string& name, const std::string& link)
    {
        dir.write(name, "");
        tree.linkById(link, dir.file(name));
        return dir.file(name);
    }
    std::string reopenAfterLoss() // a command finds the device gone; the next try reopens
    {
        fake.s.failCall = "write";
        fake.s.failErrno = EIO;
        EXPECT_THROW(port.WriteText("N\r\n"), EComPort);
        fake.s.failCall.clear();
        return port.reopenFollowingIdentity();
    }
};

} // namespace

TEST_F(PortIdentityTest, ReopenFollowsTheAdapterAndNeverOpensAnotherOneUnderItsOldName)
{
    port.setPortRoots({tree.root(), tree.byId()});
    port.SetPort(plug("ttyUSB0", ours));
    port.OpenPort();
    EXPECT_EQ(port.identity().ByIdLink, ours);
    // Held open while unplugged, the adapter came back under the next name.
    std::filesystem::remove(dir.file("ttyUSB0"));
    const std::string second = plug("ttyUSB1", ours);
    EXPECT_EQ(reopenAfterLoss(), second);
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(reopenAfterLoss(), second); // still the adapter's name
    // The name is another adapter's now; this one came back elsewhere.
    tree.linkById("usb-Other_C3D4-if00-port0", second);
    const std::string third = plug("ttyUSB2", ours);
    EXPECT_EQ(reopenAfterLoss(), third);
    // This one is nowhere and its name is another's: nothing is opened.
    tree.unlinkById(ours);
    tree.linkById("usb-Other_E5F6-if00-port0", third);
    fake.clearCalls();
    EXPECT_THAT([&] { reopenAfterLoss(); }, Throws<EComPort>(Field(&EComPort::SystemErrorCode, ENODEV)));
    EXPECT_THAT(fake.calls(), Not(Contains(StartsWith("open:"))));
    // A port chosen by its by-id link is reopened by that name.
    const std::string link = tree.byId() + "/usb-Other_E5F6-if00-port0";
    port.SetPort(link);
    port.OpenPort();
    plug("ttyUSB3", "usb-Other_E5F6-if00-port0");
    EXPECT_EQ(reopenAfterLoss(), link);
}

TEST(PortIdentity, UsbAdapterIsFoundBySerialNumberInterfaceAndPort)
{
    TempDir dir;
    FakeTtyTree tree(dir.file("class/tty"));
    const PortRoots roots{tree.root(), tree.byId()};
    tree.addUsbPort("ttyUSB0", "A1B2", 0); // a two-port adapter
    tree.addUsbPort("ttyUSB1", "A1B2", 1);
    tree.addUsbPort("ttyUSB2", "C3D4");
    dir.write("ttyUSB1", "");
    const PortIdentity identity = IdentifyPort(dir.file("ttyUSB1"), roots);
    EXPECT_EQ(identity.UsbSerial, "1111:2222:A1B2:01:0");
    // Replugged: both ports of the adapter come back under new names.
    for (const char* name : {"ttyUSB0", "ttyUSB1"})
        tree.removePort(name);
    tree.addUsbPort("ttyUSB3", "A1B2", 0);
    tree.addUsbPort("ttyUSB4", "A1B2", 1);
    EXPECT_EQ(FindPortByIdentity(identity, roots), "ttyUSB4");
    tree.removePort("ttyUSB4");
    EXPECT_EQ(FindPortByIdentity(identity, roots), "");
}
