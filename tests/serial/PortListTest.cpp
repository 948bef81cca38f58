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

using ::testing::AllOf;
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

// A port reopened after its device was lost, with device nodes standing in as plain files that a fake
// platform opens, and the by-id links of a fake tree.
struct PortIdentityTest : ::testing::Test {
    TempDir dir;
    FakeTtyTree tree{dir.file("class/tty")};
    FakeComPlatform fake;
    ScopedComPlatform scoped{&fake};
    TComPort port;
    const std::string ours = "usb-Velmora_Sensor_A1B2-if00-port0";

    std::string device(const std::string& name) const { return dir.file(name); }
    void plug(const std::string& name, const std::string& link)
    {
        dir.write(name, "");
        tree.linkById(link, device(name));
    }
    void unplug(const std::string& name) const { std::filesystem::remove(device(name)); }
    void loseDevice() // a command finds the device gone
    {
        fake.s.failCall = "write";
        fake.s.failErrno = EIO;
        EXPECT_THROW(port.WriteText("N\r\n"), EComPort);
        fake.s.failCall.clear();
        ASSERT_TRUE(port.deviceLost());
    }
};

} // namespace

TEST_F(PortIdentityTest, ReopenFollowsTheAdapterAndNeverOpensAnotherOneUnderItsOldName)
{
    plug("ttyUSB0", ours);
    port.setPortRoots({tree.root(), tree.byId()});
    port.SetPort(device("ttyUSB0"));
    port.OpenPort();
    EXPECT_EQ(port.identity().ByIdLink, ours);
    fake.clearCalls();
    EXPECT_EQ(port.reopenFollowingIdentity(), device("ttyUSB0")); // open and present: left alone
    EXPECT_TRUE(fake.calls().empty());

    // Held open while unplugged, the adapter comes back under the next name.
    loseDevice();
    unplug("ttyUSB0");
    plug("ttyUSB1", ours);
    EXPECT_EQ(port.reopenFollowingIdentity(), device("ttyUSB1"));
    EXPECT_EQ(port.Port(), device("ttyUSB1"));
    EXPECT_TRUE(port.Connected());
    EXPECT_FALSE(port.deviceLost());
    loseDevice(); // the name still carries the adapter: the same name
    EXPECT_EQ(port.reopenFollowingIdentity(), device("ttyUSB1"));

    // The name now belongs to another adapter and this one returned elsewhere.
    loseDevice();
    tree.linkById("usb-Other_Adapter_C3D4-if00-port0", device("ttyUSB1"));
    plug("ttyUSB2", ours);
    EXPECT_EQ(port.reopenFollowingIdentity(), device("ttyUSB2"));

    // This adapter is nowhere and its name is another's: nothing is opened.
    loseDevice();
    tree.unlinkById(ours);
    tree.linkById("usb-Other_Adapter_E5F6-if00-port0", device("ttyUSB2"));
    fake.clearCalls();
    EXPECT_THAT([&] { port.reopenFollowingIdentity(); },
                Throws<EComPort>(AllOf(Field(&EComPort::ErrorCode, 1), Field(&EComPort::SystemErrorCode, ENODEV))));
    EXPECT_FALSE(port.Connected());
    EXPECT_THAT(fake.calls(), Not(Contains(StartsWith("open:"))));
}

TEST_F(PortIdentityTest, PortNamedByAStableLinkIsReopenedByThatName)
{
    plug("ttyUSB0", ours);
    const std::string link = tree.byId() + "/" + ours;
    port.setPortRoots({tree.root(), tree.byId()});
    port.SetPort(link);
    port.OpenPort();
    EXPECT_TRUE(port.identity().empty());
    loseDevice();
    unplug("ttyUSB0");
    plug("ttyUSB1", ours);
    EXPECT_EQ(port.reopenFollowingIdentity(), link);
}

TEST(PortIdentity, UsbAdapterIsFoundBySerialNumberInterfaceAndPort)
{
    TempDir dir;
    FakeTtyTree tree(dir.file("class/tty"));
    const PortRoots roots{tree.root(), tree.byId()};
    tree.addUsbPort("ttyUSB0", "A1B2", 0); // a two-port adapter
    tree.addUsbPort("ttyUSB1", "A1B2", 1);
    tree.addUsbPort("ttyUSB2", "C3D4");
    tree.addPort("ttyS0", true, 4);
    dir.write("ttyUSB1", "");
    dir.write("ttyS0", "");
    const PortIdentity identity = IdentifyPort(dir.file("ttyUSB1"), roots);
    EXPECT_EQ(identity.UsbSerial, "0403:6001:A1B2:01:0");
    EXPECT_TRUE(IdentifyPort(dir.file("ttyS0"), roots).empty());
    EXPECT_TRUE(IdentifyPort(dir.file("missing"), roots).empty());

    // Replugged: both ports of the adapter come back under new names.
    tree.removePort("ttyUSB0");
    tree.removePort("ttyUSB1");
    tree.addUsbPort("ttyUSB3", "A1B2", 0);
    tree.addUsbPort("ttyUSB4", "A1B2", 1);
    EXPECT_EQ(FindPortByIdentity(identity, roots), "ttyUSB4");
    tree.removePort("ttyUSB4");
    EXPECT_EQ(FindPortByIdentity(identity, roots), "");
}
