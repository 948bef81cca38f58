#include "publish/PublishSettings.h"

#include <gtest/gtest.h>
#include <unistd.h>

TEST(PublishSettings, DefaultsFollowTheMachineAndThePortAndProblemsAreNamed)
{
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    TPublishSettings s;
    s.Host = "broker";
    EXPECT_EQ(EffectiveClientId(s, "/dev/serial/by-id/usb-FTDI-if00"), std::string(host) + "-usb-FTDI-if00");
    EXPECT_EQ(EffectiveTopicPrefix(s, "ttyUSB0"), std::string("velmora/") + host + "-ttyUSB0");
    EXPECT_EQ(EffectivePort(s), 1883);
    s.Tls = true;
    EXPECT_EQ(EffectivePort(s), 8883);
    EXPECT_EQ(PublishSettingsProblem(s), "");

    const std::pair<void (*)(TPublishSettings&), std::string> problems[] = {
        {[](TPublishSettings& p) { p.Host = " "; }, "no broker host is given"},
        {[](TPublishSettings& p) { p.Port = 70000; }, "the broker port 70000 is not between 1 and 65535"},
        {[](TPublishSettings& p) { p.IntervalSeconds = 0; }, "the publish interval must be at least 1 s"},
        {[](TPublishSettings& p) { p.IntervalSeconds = 999999999; }, "the publish interval must be at most 2147483 s"},
        {[](TPublishSettings& p) { p.QoS = 2; }, "the QoS must be 0 or 1"},
        {[](TPublishSettings& p) { p.TopicPrefix = "a/#"; }, "the topic prefix 'a/#' contains a wildcard (# or +)"},
        {[](TPublishSettings& p) { p.TopicPrefix = "a/"; },
         "the topic prefix 'a/' must not start with $ or end with /"},
        {[](TPublishSettings& p) { p.TopicPrefix = "a+b/c"; }, "the topic prefix 'a+b/c' contains a wildcard (# or +)"},
        {[](TPublishSettings& p) { p.TopicPrefix = std::string("a\0b", 3); },
         "the topic prefix contains a NUL character"},
        {[](TPublishSettings& p) { p.TopicPrefix = "lab\n1"; },
         "the topic prefix contains a control character (U+000A at byte 4)"},
        {[](TPublishSettings& p) { p.TopicPrefix = "lab\x7f"; },
         "the topic prefix contains a control character (U+007F at byte 4)"},
        {[](TPublishSettings& p) { p.TopicPrefix = "lab\xc2\x85"; }, // U+0085, a C1 control
         "the topic prefix contains a control character (U+0085 at byte 4)"},
        {[](TPublishSettings& p) { p.TopicPrefix = "lab\xff"; }, "the topic prefix is not valid UTF-8 (at byte 4)"},
        {[](TPublishSettings& p) { p.TopicPrefix = "lab\xc3"; }, "the topic prefix is not valid UTF-8 (at byte 4)"},
        {[](TPublishSettings& p) { p.TopicPrefix = "a\xc0\xaf"; }, // an overlong "/"
         "the topic prefix is not valid UTF-8 (at byte 2)"},
        {[](TPublishSettings& p) { p.TopicPrefix = "a\xed\xa0\x80"; }, // a surrogate
         "the topic prefix is not valid UTF-8 (at byte 2)"},
        {[](TPublishSettings& p) { p.TopicPrefix = std::string(70000, 'a'); },
         "the topic prefix is 70000 bytes long; at most 65471 leave room for the topics under it (MQTT allows "
         "65535)"},
        {[](TPublishSettings& p) { p.CertFile = "c.pem"; },
         "a client certificate needs its key file, and a key its certificate"},
    };
    // Prefixes MQTT allows: UTF-8 beyond ASCII, and the longest that leaves room.
    for (const std::string& prefix :
         {std::string("lab/Zürich/°C"), std::string("実験室/1"), std::string(MaxTopicPrefixBytes, 'a')}) {
        TPublishSettings p = s;
        p.TopicPrefix = prefix;
        EXPECT_EQ(PublishSettingsProblem(p), "") << prefix.substr(0, 20);
    }
    for (const auto& [change, message] : problems) {
        TPublishSettings p = s;
        change(p);
        EXPECT_EQ(PublishSettingsProblem(p), message);
    }
}
