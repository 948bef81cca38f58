#include "record/ValidateLib.h"
#include "record/Conversions.h"

#include <gtest/gtest.h>

TEST(IsInvalidInteger, AcceptsDigitsWithOneLeadingSign)
{
    for (const char* text : {"0", "5", "+5", "-3", "0005", "-0", "2147483648", "+", "-"})
        EXPECT_FALSE(IsInvalidInteger(text)) << text;
}

TEST(IsInvalidInteger, RejectsEmptySpacesLettersPointsAndLateSigns)
{
    for (const char* text : {"", " 5", "5 ", "5s", "a", "1.5", "5-", "+-5", "--5", "1+1", "\t1"})
        EXPECT_TRUE(IsInvalidInteger(text)) << text;
}

TEST(IsInvalidIntegerMin, ComparesWithMinimum)
{
    EXPECT_TRUE(IsInvalidIntegerMin("0", 1));
    EXPECT_TRUE(IsInvalidIntegerMin("-3", 1));
    EXPECT_TRUE(IsInvalidIntegerMin("-0", 1));
    EXPECT_TRUE(IsInvalidIntegerMin("x", 1));
    EXPECT_FALSE(IsInvalidIntegerMin("1", 1));
    EXPECT_FALSE(IsInvalidIntegerMin("+5", 1));
    EXPECT_FALSE(IsInvalidIntegerMin("2147483647", 1));
    EXPECT_FALSE(IsInvalidIntegerMin("-2147483648", -2147483647 - 1));
}

TEST(IsInvalidIntegerMin, TextThatDoesNotConvertRaisesTheConversionError)
{
    for (const char* text : {"+", "-", "2147483648", "-2147483649", "99999999999"}) {
        try {
            IsInvalidIntegerMin(text, 1);
            ADD_FAILURE() << text << " did not raise";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("'") + text + "' is not a valid integer value");
        }
    }
}

TEST(Conversions, StrToIntAndCheckedProduct)
{
    EXPECT_EQ(StrToInt("+5"), 5);
    EXPECT_EQ(StrToInt("0005"), 5);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
    EXPECT_THROW(StrToInt("+-5"), EConvertError);
    EXPECT_THROW(StrToInt(""), EConvertError);
    EXPECT_EQ(MultiplyChecked(2147483, 1000), 2147483000);
    try {
        MultiplyChecked(2147484, 1000);
        ADD_FAILURE() << "no overflow";
    } catch (const EIntOverflow& e) {
        EXPECT_STREQ(e.what(), "Integer overflow");
    }
}
