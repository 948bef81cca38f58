#include "serial/SettingTexts.h"

#include <gtest/gtest.h>

TEST(SettingTexts, SensorLineSettings)
{
    EXPECT_EQ(BaudRateToText(br57600), "57600");
    EXPECT_EQ(DataBitsToText(dbEight), "8");
    EXPECT_EQ(StopBitsToText(sbOneStopBit), "1");
    EXPECT_EQ(ParityToText(prNone), "None");
    EXPECT_EQ(FlowControlToText(fcSoftware), "Software");
}

TEST(SettingTexts, TableEnds)
{
    EXPECT_EQ(BaudRateToText(brCustom), "Custom");
    EXPECT_EQ(BaudRateToText(br256000), "256000");
    EXPECT_EQ(StopBitsToText(sbOne5StopBits), "1.5");
    EXPECT_EQ(ParityToText(prSpace), "Space");
    EXPECT_EQ(FlowControlToText(fcCustom), "Custom");
}
