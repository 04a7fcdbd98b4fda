// SPDX-License-Identifier: MIT
#include "serial_port_cycle.h"

#include <gtest/gtest.h>

namespace korvantel {
namespace {

TEST(LineSettingsText, ReadsEveryFieldOfAValidText)
{
    struct Case
    {
        const char *text;
        LineSettings expected;
    };
    const Case cases[] = {
        {"9600,n,8,1", {9600, Parity::None, 8, StopBits::One}},
        {"9600,N,8,1", {9600, Parity::None, 8, StopBits::One}},
        {"19200,e,7,2", {19200, Parity::Even, 7, StopBits::Two}},
        {"300,o,5,1.5", {300, Parity::Odd, 5, StopBits::OneAndHalf}},
        {"115200,m,6,1", {115200, Parity::Mark, 6, StopBits::One}},
        {"1200,s,8,1", {1200, Parity::Space, 8, StopBits::One}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<LineSettings> parsed = parseLineSettings(QString::fromLatin1(c.text));
        ASSERT_TRUE(parsed.has_value());
        EXPECT_EQ(*parsed, c.expected);
    }
}

TEST(LineSettingsText, RefusesMalformedTexts)
{
    for (const char *text : {"", "9600", "9600,n,8", "9600,n,8,1,1", "9600,x,8,1", "9600,n,9,1", "9600,n,4,1",
                             "9600,n,8,3", "9600,n,8,1.0", "0,n,8,1", "-9600,n,8,1", "9600 ,n,8,1",
                             "96o0,n,8,1", "9600,,8,1", "9600,no,8,1", "99999999999,n,8,1"}) {
        EXPECT_FALSE(parseLineSettings(QString::fromLatin1(text)).has_value()) << text;
    }
}

TEST(LineSettingsText, CharacterTimeCountsStartParityAndStopBits)
{
    EXPECT_NEAR(characterMicroseconds({9600, Parity::None, 8, StopBits::One}), 1041.67, 0.01);
    EXPECT_NEAR(characterMicroseconds({9600, Parity::Even, 7, StopBits::Two}), 1145.83, 0.01);
}

}  // namespace
}  // namespace korvantel
