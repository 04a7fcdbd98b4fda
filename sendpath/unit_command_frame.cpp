// SPDX-License-Identifier: MIT
#include "unit_command_frame.h"

#include <optional>

namespace korvantel {

namespace {

constexpr char16_t kThaiDigitZero = u'\u0E50';
constexpr char16_t kThaiDigitNine = u'\u0E59';
constexpr int kLargestByte = 255;

std::optional<int> digitValue(QChar character)
{
    const char16_t code = character.unicode();
    if (code >= u'0' && code <= u'9')
        return code - u'0';
    if (code >= kThaiDigitZero && code <= kThaiDigitNine)
        return code - kThaiDigitZero;
    return std::nullopt;
}

}  // namespace

UnitCommandFrame::UnitCommandFrame(std::uint8_t group, std::uint8_t unit, std::uint8_t quantity)
    : m_bytes(kTemplate)
{
    m_bytes[kGroupIndex] = group;
    m_bytes[kUnitIndex] = unit;
    m_bytes[kQuantityIndex] = quantity;
}

FieldByte fieldToByte(const QString &text)
{
    const QStringView number = QStringView(text).trimmed();
    qsizetype position = 0;
    bool negative = false;
    if (!number.isEmpty() && (number.front() == u'+' || number.front() == u'-')) {
        negative = number.front() == u'-';
        position = 1;
    }
    if (position == number.size())
        return {.error = FieldError::NotANumber};

    // Every character is checked before the range, so "999x" is not a number
    // rather than too large; the magnitude stops growing once it is out of range.
    int magnitude = 0;
    for (; position < number.size(); ++position) {
        const std::optional<int> digit = digitValue(number.at(position));
        if (!digit)
            return {.error = FieldError::NotANumber};
        if (magnitude <= kLargestByte)
            magnitude = magnitude * 10 + *digit;
    }

    if (magnitude > kLargestByte || (negative && magnitude != 0))
        return {.error = FieldError::OutOfRange};
    return {.value = static_cast<std::uint8_t>(magnitude)};
}

}  // namespace korvantel
