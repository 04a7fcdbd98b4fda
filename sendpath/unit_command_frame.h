// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>

namespace korvantel {

// The one command the tool sends: eight bytes, no length, no checksum and no
// escaping, so 0xFD and 0xFE may also occur in the three variable bytes.
class UnitCommandFrame
{
public:
    static constexpr std::size_t kSize = 8;
    using Bytes = std::array<std::uint8_t, kSize>;

    // Positions of the variable bytes.
    static constexpr std::size_t kGroupIndex = 3;
    static constexpr std::size_t kUnitIndex = 4;
    static constexpr std::size_t kQuantityIndex = 6;

    // The constant bytes stand in their positions; the variable ones are zero here.
    static constexpr Bytes kTemplate = {0xFD, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0xFE};

    UnitCommandFrame(std::uint8_t group, std::uint8_t unit, std::uint8_t quantity);

    const Bytes &bytes() const { return m_bytes; }

private:
    Bytes m_bytes;
};

enum class FieldError : std::uint8_t {
    None,
    NotANumber,  // empty, letters, fractions, hex, blanks inside, a bare sign, foreign digits
    OutOfRange,  // a whole number, but not 0..255 (including anything beyond 32 bits)
};

struct FieldByte
{
    std::uint8_t value = 0;
    FieldError error = FieldError::None;

    bool ok() const { return error == FieldError::None; }
};

// Reads an operator's field text as one byte. Accepts ASCII and Thai digits
// (U+0E50..U+0E59), blanks around them and one leading sign; nothing is clamped,
// wrapped or defaulted.
FieldByte fieldToByte(const QString &text);

}  // namespace korvantel
