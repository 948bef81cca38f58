#include "settings/SettingParams.h"
#include "serial/EComPort.h"
#include "support/FakeTtyTree.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string FileDeclaration = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)";

std::string fileWith(const std::string& settingsContent)
{
    return FileDeclaration + "<Sensor><Settings>" + settingsContent + "</Settings></Sensor>";
}

class SettingParamsTest : public ::testing::Test {
protected:
    TempDir dir;
    FakeTtyTree tty{dir.file("sys/class/tty")};

    std::unique_ptr<TSettingParams> make()
    {
        auto s = std::make_unique<TSettingParams>(dir.file("SensorSettings"), "Sensor\\Settings");
        s->SetPortListRoot(tty.root());
        return s;
    }
    bool fileExists() const { return std::filesystem::exists(dir.file("SensorSettings.xml")); }
    std::string file() const { return dir.read("SensorSettings.xml"); }
    void writeFile(const std::string& content) const { dir.write("SensorSettings.xml", content); }
};

} // namespace

TEST(ComparePortNames, NaturalOrder)
{
    auto less = [](const std::string& a, const std::string& b) { return ComparePortNames(a, b) < 0; };
    EXPECT_TRUE(less("COM2", "COM10"));
    EXPECT_TRUE(less("COM3", "COM10"));
    EXPECT_TRUE(less("ttyUSB2", "ttyUSB10"));
    EXPECT_TRUE(less("ttyACM0", "ttyUSB0"));
    EXPECT_TRUE(less("ttyS9", "ttyUSB0"));
    EXPECT_TRUE(less("com2", "COM10"));
    EXPECT_TRUE(less("ttyUSB", "ttyUSB0"));
    EXPECT_TRUE(less("COM99999999999999999999", "COM100000000000000000000"));
    EXPECT_EQ(ComparePortNames("COM02", "com2"), 0);
    EXPECT_EQ(ComparePortNames("", ""), 0);
    EXPECT_NO_THROW(ComparePortNames("X", "COM"));
    const std::vector<std::string> list{"COM10", "Port", "COM2"};
    EXPECT_GT(TSettingParams::ComparePortNumbers(list, 0, 2), 0);
    EXPECT_NE(TSettingParams::ComparePortNumbers(list, 1, 2), 0);
}

TEST_F(SettingParamsTest, NoPortsAndNoFile)
{
    auto s = make();
    EXPECT_EQ(s->Load(), XmlResult::Ok);
    EXPECT_EQ(s->ComPort, "");
    EXPECT_FALSE(fileExists());
}

TEST_F(SettingParamsTest, DefaultIsLowestNumberedPort)
{
    struct Case {
        std::vector<std::string> present;
        std::string expected;
    };
    for (const Case& c : {Case{{"COM1", "COM10", "COM2"}, "COM1"}, Case{{"COM10", "COM3"}, "COM3"},
                          Case{{"ttyUSB10", "ttyUSB2", "ttyACM1", "ttyS0"}, "ttyACM1"}, Case{{"serial"}, "serial"}}) {
        TempDir other;
        FakeTtyTree ports(other.file("tty"));
        for (const std::string& name : c.present)
            ports.addPort(name);
        auto s = make();
        s->SetPortListRoot(ports.root());
        EXPECT_EQ(s->Load(), XmlResult::Ok);
        EXPECT_EQ(s->ComPort, c.expected);
    }
}

TEST_F(SettingParamsTest, UnreadablePortListPassesOutOfLoad)
{
    writeFile(fileWith("<ComPort>COM7</ComPort>"));
    auto s = make();
    s->SetPortListRoot(dir.file("nowhere"));
    s->ComPort = "old";
    try {
        s->Load();
        ADD_FAILURE() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode, 23);
    }
    EXPECT_EQ(s->ComPort, "old");
}

TEST_F(SettingParamsTest, StoredNameWins)
{
    tty.addPort("COM1");
    writeFile(fileWith("<Baud>9600</Baud><ComPort>COM7</ComPort>"));
    auto s = make();
    EXPECT_EQ(s->Load(), XmlResult::Ok);
    EXPECT_EQ(s->ComPort, "COM7");

    writeFile(fileWith("<ComPort>COM4</ComPort><!--x--><ComPort>COM5</ComPort>"));
    s->Load();
    EXPECT_EQ(s->ComPort, "COM5");
    writeFile(fileWith("<ComPort></ComPort>"));
    s->Load();
    EXPECT_EQ(s->ComPort, "");
    writeFile(fileWith("<ComPort><![CDATA[ttyUSB0]]></ComPort>"));
    s->Load();
    EXPECT_EQ(s->ComPort, "ttyUSB0");
    writeFile(fileWith("<comport>COM7</comport>"));
    s->Load();
    EXPECT_EQ(s->ComPort, "COM1");
}

TEST_F(SettingParamsTest, SaveCreatesCompactFileAndReplacesSettings)
{
    auto s = make();
    s->Load();
    s->ComPort = "COM3";
    ASSERT_EQ(s->Save(), XmlResult::Ok);
    EXPECT_EQ(file(), FileDeclaration + "\n<Sensor><Settings><ComPort>COM3</ComPort></Settings></Sensor>\n");

    writeFile(FileDeclaration
              + "<!--keep--><Sensor><Extra>e</Extra><Settings><Baud>9600</Baud><ComPort>COM3</ComPort>"
                "</Settings></Sensor>");
    s->ComPort = "ttyUSB1";
    ASSERT_EQ(s->Save(), XmlResult::Ok);
    ASSERT_EQ(s->Save(), XmlResult::Ok);
    EXPECT_EQ(file(), FileDeclaration
                          + "\n<!--keep-->\n<Sensor><Extra>e</Extra><Settings><ComPort>ttyUSB1</ComPort>"
                            "</Settings></Sensor>\n");

    auto reread = make();
    reread->Load();
    EXPECT_EQ(reread->ComPort, "ttyUSB1");
}

TEST_F(SettingParamsTest, OtherDocumentElementIsWrittenBackWithoutPort)
{
    tty.addPort("COM1");
    writeFile(FileDeclaration + "<Config><Settings><ComPort>COM7</ComPort></Settings></Config>");
    auto s = make();
    EXPECT_EQ(s->Load(), XmlResult::Ok);
    EXPECT_EQ(s->ComPort, "COM1");
    s->ComPort = "COM2";
    EXPECT_EQ(s->Save(), XmlResult::DocumentError); // written back, but the port was not stored
    EXPECT_EQ(s->ErrorText(), "its root element is <Config> instead of <Sensor>");
    EXPECT_EQ(file(), FileDeclaration + "\n<Config><Settings><ComPort>COM7</ComPort></Settings></Config>\n");
}

TEST_F(SettingParamsTest, UnusableFileKeepsDefaultAndIsNeverOverwritten)
{
    tty.addPort("COM1");
    for (const std::string& content :
         {std::string(), std::string("<Sensor><Settings>"), fileWith("<ComPort>COM7</ComPort><ComPort><x/></ComPort>"),
          fileWith("<ComPort>COM7<!--c--></ComPort>"),
          fileWith("<ComPort>COM7</ComPort><Reconnect><x/></Reconnect>")}) {
        writeFile(content);
        auto s = make();
        EXPECT_EQ(s->Load(), XmlResult::LoadFailed) << content;
        EXPECT_EQ(s->ComPort, "COM1") << content;
        const std::string why = s->ErrorText();
        EXPECT_NE(why, "") << content;
        s->ComPort = "COM2";
        s->Reconnect = true;
        EXPECT_EQ(s->Save(), XmlResult::LoadFailed) << content;
        EXPECT_EQ(s->ErrorText(), why) << content; // the save names the same reason
        EXPECT_EQ(file(), content);
    }

    std::filesystem::remove(dir.file("SensorSettings.xml"));
    std::filesystem::create_directory(dir.file("SensorSettings.xml"));
    auto s = make();
    EXPECT_EQ(s->Load(), XmlResult::LoadFailed);
    EXPECT_EQ(s->ComPort, "COM1");
    EXPECT_EQ(s->Save(), XmlResult::LoadFailed);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("SensorSettings.xml")));
}

TEST_F(SettingParamsTest, FileRemovedAfterFailedLoadIsCreatedOnSave)
{
    writeFile("<Sensor>");
    auto s = make();
    EXPECT_EQ(s->Load(), XmlResult::LoadFailed);
    std::filesystem::remove(dir.file("SensorSettings.xml"));
    s->ComPort = "COM4";
    EXPECT_EQ(s->Save(), XmlResult::Ok);
    EXPECT_EQ(file(), FileDeclaration + "\n<Sensor><Settings><ComPort>COM4</ComPort></Settings></Sensor>\n");
}

TEST_F(SettingParamsTest, PrefixedSettingsElementIsReadWhereItIsWritten)
{
    tty.addPort("COM1");
    writeFile(FileDeclaration + "<Sensor><x:Settings><ComPort>COM4</ComPort></x:Settings></Sensor>");
    auto s = make();
    EXPECT_EQ(s->Load(), XmlResult::Ok);
    EXPECT_EQ(s->ComPort, "COM4");
    s->ComPort = "COM2";
    EXPECT_EQ(s->Save(), XmlResult::Ok);
    auto reread = make();
    EXPECT_EQ(reread->Load(), XmlResult::Ok);
    EXPECT_EQ(reread->ComPort, "COM2");
}

TEST_F(SettingParamsTest, ReconnectIsOnOnlyWhenTheFileSaysSoAndIsStoredBesideThePort)
{
    const std::pair<const char*, bool> cases[] = {{"<ComPort>COM3</ComPort>", false}, // a file from before the switch
                                                  {"<Reconnect> TRUE </Reconnect><ComPort>COM3</ComPort>", true},
                                                  {"<Reconnect>1</Reconnect>", true},
                                                  {"<Reconnect>yes please</Reconnect>", false},
                                                  {"<reconnect>true</reconnect>", false},
                                                  {"<Reconnect>true</Reconnect><Reconnect>0</Reconnect>", false}};
    for (const auto& [settings, on] : cases) {
        writeFile(fileWith(settings));
        auto s = make();
        s->Reconnect = !on;
        EXPECT_EQ(s->Load(), XmlResult::Ok) << settings;
        EXPECT_EQ(s->Reconnect, on) << settings;
    }
    const std::string head = FileDeclaration + "\n<!--keep-->\n<Sensor><Extra>e</Extra><Settings><ComPort>COM3</ComPort>";
    writeFile(head + "</Settings></Sensor>\n");
    auto s = make();
    ASSERT_EQ(s->Load(), XmlResult::Ok);
    s->Reconnect = true;
    ASSERT_EQ(s->Save(), XmlResult::Ok);
    EXPECT_EQ(file(), head + "<Reconnect>true</Reconnect></Settings></Sensor>\n");
    s->Reconnect = false;
    ASSERT_EQ(s->Save(), XmlResult::Ok);
    EXPECT_EQ(file(), head + "</Settings></Sensor>\n");
}

TEST_F(SettingParamsTest, PublishingIsStoredBesideThePortAndAPasswordKeepsTheFilePrivate)
{
    const std::string head = FileDeclaration + "\n<!--keep-->\n<Sensor><Extra>e</Extra><Settings><ComPort>COM3</ComPort>";
    writeFile(head + "</Settings></Sensor>\n");
    ::chmod(dir.file("SensorSettings.xml").c_str(), 0644);
    auto s = make();
    ASSERT_EQ(s->Load(), XmlResult::Ok);
    EXPECT_EQ(s->Publishing, TPublishSettings{}); // a file from before publishing: off
    ASSERT_EQ(s->Save(), XmlResult::Ok);
    EXPECT_EQ(file(), head + "</Settings></Sensor>\n");

    TPublishSettings p;
    p.Enabled = true;
    p.Host = "broker.local";
    p.Port = 8884;
    p.ClientId = "lab 1";
    p.TopicPrefix = "site/lab<1>";
    p.IntervalSeconds = 5;
    p.QoS = 0;
    p.Tls = true;
    p.CaFile = "/etc/ca.pem";
    p.CertFile = "c.pem";
    p.KeyFile = "k.pem";
    p.UserName = "logger";
    p.Password = "pa ss&";
    p.HomeAssistant = true;
    s->Publishing = p;
    ASSERT_EQ(s->Save(), XmlResult::Ok);
    EXPECT_EQ(std::filesystem::status(dir.file("SensorSettings.xml")).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_NE(file().find("<Extra>e</Extra>"), std::string::npos);
    auto reread = make();
    ASSERT_EQ(reread->Load(), XmlResult::Ok);
    EXPECT_EQ(reread->Publishing, p);
    EXPECT_EQ(reread->ComPort, "COM3");

    for (const std::string& bad : {std::string("<Publishing><Port>18x3</Port></Publishing>"),
                                   std::string("<Publishing><Host><b/></Host></Publishing>")}) {
        writeFile(fileWith("<ComPort>COM7</ComPort>" + bad));
        auto broken = make();
        EXPECT_EQ(broken->Load(), XmlResult::LoadFailed) << bad;
        EXPECT_EQ(broken->ErrorText().rfind("Publishing\\", 0), 0u) << broken->ErrorText();
    }
}

TEST_F(SettingParamsTest, AlarmsAreStoredBesideThePortInTheServiceRuleForm)
{
    // A file from before alarms: no rules, "No reading" on, and a save leaves it as it was.
    const std::string head = FileDeclaration + "\n<!--keep-->\n<Sensor><Extra>e</Extra><Settings><ComPort>COM3</ComPort>";
    writeFile(head + "</Settings></Sensor>\n");
    auto s = make();
    ASSERT_EQ(s->Load(), XmlResult::Ok);
    EXPECT_TRUE(s->AlarmRules.empty());
    EXPECT_TRUE(s->NoReadingAlarm);
    ASSERT_EQ(s->Save(), XmlResult::Ok);
    EXPECT_EQ(file(), head + "</Settings></Sensor>\n");

    TAlarmRule high{"concentration", TAlarmRule::High, 0.0125, 0.0005, 10, true};
    TAlarmRule low{"temperature", TAlarmRule::Low, -3.5, 0, 0, false};
    s->AlarmRules = {high, low};
    s->NoReadingAlarm = false;
    ASSERT_EQ(s->Save(), XmlResult::Ok);
    EXPECT_EQ(file(), head
                          + "<Alarms><NoReading>false</NoReading>"
                            "<Rule>concentration&gt;0.0125,hysteresis=5e-04,delay=10,latch</Rule>"
                            "<Rule>temperature&lt;-3.5</Rule></Alarms></Settings></Sensor>\n");
    auto reread = make();
    ASSERT_EQ(reread->Load(), XmlResult::Ok);
    EXPECT_EQ(reread->AlarmRules, s->AlarmRules);
    EXPECT_FALSE(reread->NoReadingAlarm);
    EXPECT_EQ(reread->ComPort, "COM3");

    // Written by hand: percent levels, blanks, unknown children ignored; a rule that does not read makes
    // the file unusable rather than silently dropping an alarm.
    writeFile(fileWith("<ComPort>COM7</ComPort><Alarms><Note>x</Note><Rule> pressure&gt;2%, delay=5 </Rule></Alarms>"));
    auto byHand = make();
    ASSERT_EQ(byHand->Load(), XmlResult::Ok);
    ASSERT_EQ(byHand->AlarmRules.size(), 1u);
    EXPECT_EQ(byHand->AlarmRules[0], (TAlarmRule{"pressure", TAlarmRule::High, 0.02, 0, 5, false}));
    EXPECT_TRUE(byHand->NoReadingAlarm);
    for (const std::string& bad : {std::string("<Alarms><Rule>colour&gt;3</Rule></Alarms>"),
                                   std::string("<Alarms><Rule><b/></Rule></Alarms>")}) {
        writeFile(fileWith("<ComPort>COM7</ComPort>" + bad));
        auto broken = make();
        EXPECT_EQ(broken->Load(), XmlResult::LoadFailed) << bad;
        EXPECT_EQ(broken->ErrorText().rfind("Alarms\\Rule", 0), 0u) << broken->ErrorText();
        EXPECT_TRUE(broken->AlarmRules.empty());
    }
}
