#include "serial/PortList.h"
#include "serial/EComPort.h"
#include "support/FakeTtyTree.h"
#include "support/TempDir.h"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>

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
