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
        {[](TPublishSettings& p) { p.CertFile = "c.pem"; },
         "a client certificate needs its key file, and a key its certificate"},
    };
    for (const auto& [change, message] : problems) {
        TPublishSettings p = s;
        change(p);
        EXPECT_EQ(PublishSettingsProblem(p), message);
    }
}
