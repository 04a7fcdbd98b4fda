// SPDX-License-Identifier: MIT
#include "unit_command_frame.h"

#include <QByteArray>

#include <gtest/gtest.h>

namespace korvantel {
namespace {

struct FieldCase
{
    QString text;
    FieldError error;
    int value;
};

void PrintTo(const FieldCase &c, std::ostream *out)
{
    *out << '"' << c.text.toStdString() << '"';
}

class FieldToByte : public ::testing::TestWithParam<FieldCase>
{
};

TEST_P(FieldToByte, ReadsTheTextOrSaysWhyNot)
{
    const FieldCase &c = GetParam();
    const FieldByte result = fieldToByte(c.text);
    EXPECT_EQ(result.error, c.error);
    if (c.error == FieldError::None) {
        EXPECT_EQ(result.value, c.value);
    }
}

constexpr FieldError ok = FieldError::None;
constexpr FieldError nan = FieldError::NotANumber;
constexpr FieldError range = FieldError::OutOfRange;

INSTANTIATE_TEST_SUITE_P(
    Texts, FieldToByte,
    ::testing::Values(
        FieldCase{"0", ok, 0}, FieldCase{"1", ok, 1}, FieldCase{"255", ok, 255}, FieldCase{"254", ok, 254},
        FieldCase{"  12\t", ok, 12}, FieldCase{"+40", ok, 40}, FieldCase{"-0", ok, 0},
        FieldCase{"007", ok, 7}, FieldCase{"0000000000000000255", ok, 255},
        FieldCase{QStringLiteral("๒๕๕"), ok, 255}, FieldCase{QStringLiteral(" ๑๒ "), ok, 12},
        FieldCase{QStringLiteral("๐"), ok, 0}, FieldCase{QStringLiteral("๙"), ok, 9},
        FieldCase{QStringLiteral("1๒"), ok, 12},
        FieldCase{"256", range, 0}, FieldCase{"-1", range, 0}, FieldCase{"1000", range, 0},
        FieldCase{"2147483648", range, 0}, FieldCase{"99999999999999999999", range, 0},
        FieldCase{"-99999999999", range, 0}, FieldCase{QStringLiteral("๒๕๖"), range, 0},
        FieldCase{"", nan, 0}, FieldCase{"   ", nan, 0}, FieldCase{"+", nan, 0}, FieldCase{"-", nan, 0},
        FieldCase{"abc", nan, 0}, FieldCase{"1.5", nan, 0}, FieldCase{"1,0", nan, 0},
        FieldCase{"0x10", nan, 0}, FieldCase{"&H10", nan, 0}, FieldCase{"1e2", nan, 0},
        FieldCase{"1 2", nan, 0}, FieldCase{"- 1", nan, 0}, FieldCase{"++1", nan, 0},
        FieldCase{"999x", nan, 0}, FieldCase{QStringLiteral("٣"), nan, 0},
        FieldCase{QStringLiteral("１"), nan, 0}));

struct FrameCase
{
    int group, unit, quantity;
    const char *hex;
};

void PrintTo(const FrameCase &c, std::ostream *out)
{
    *out << c.hex;
}

class FrameBytes : public ::testing::TestWithParam<FrameCase>
{
};

TEST_P(FrameBytes, MatchTheWireFormat)
{
    const FrameCase &c = GetParam();
    const UnitCommandFrame frame(c.group, c.unit, c.quantity);
    const QByteArray bytes(reinterpret_cast<const char *>(frame.bytes().data()), UnitCommandFrame::kSize);
    EXPECT_EQ(bytes.toHex(' '), QByteArray(c.hex));
}

// No escaping: the start and end values may stand inside a frame.
INSTANTIATE_TEST_SUITE_P(Values, FrameBytes,
                         ::testing::Values(FrameCase{1, 1, 255, "fd 00 01 01 01 00 ff fe"},
                                           FrameCase{0, 0, 0, "fd 00 01 00 00 00 00 fe"},
                                           FrameCase{3, 12, 40, "fd 00 01 03 0c 00 28 fe"},
                                           FrameCase{1, 1, 254, "fd 00 01 01 01 00 fe fe"},
                                           FrameCase{253, 1, 255, "fd 00 01 fd 01 00 ff fe"}));

}  // namespace
}  // namespace korvantel
