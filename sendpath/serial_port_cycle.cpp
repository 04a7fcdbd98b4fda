// SPDX-License-Identifier: MIT
#include "serial_port_cycle.h"

#include <QStringList>

namespace korvantel {

namespace {

std::optional<Parity> parityFromLetter(const QString &letter)
{
    static const QString letters = QStringLiteral("neoms");
    static constexpr Parity parities[] = {Parity::None, Parity::Even, Parity::Odd, Parity::Mark,
                                          Parity::Space};
    const qsizetype index = letter.size() == 1 ? letters.indexOf(letter.at(0).toLower()) : -1;
    if (index < 0)
        return std::nullopt;
    return parities[index];
}

std::optional<StopBits> stopBitsFromText(const QString &text)
{
    if (text == u"1")
        return StopBits::One;
    if (text == u"1.5")
        return StopBits::OneAndHalf;
    if (text == u"2")
        return StopBits::Two;
    return std::nullopt;
}

// Plain ASCII decimal only: the settings are the program's constant, not operator input.
std::optional<int> decimal(const QString &text, int lowest, int highest)
{
    if (text.isEmpty() || text.size() > 9)
        return std::nullopt;
    int value = 0;
    for (const QChar character : text) {
        if (character < u'0' || character > u'9')
            return std::nullopt;
        value = value * 10 + (character.unicode() - u'0');
    }
    if (value < lowest || value > highest)
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<LineSettings> parseLineSettings(const QString &text)
{
    const QStringList parts = text.split(u',');
    if (parts.size() != 4)
        return std::nullopt;
    const std::optional<int> baudRate = decimal(parts[0], 1, 4'000'000);
    const std::optional<Parity> parity = parityFromLetter(parts[1]);
    const std::optional<int> dataBits = decimal(parts[2], 5, 8);
    const std::optional<StopBits> stopBits = stopBitsFromText(parts[3]);
    if (!baudRate || !parity || !dataBits || !stopBits)
        return std::nullopt;
    return LineSettings{.baudRate = *baudRate, .parity = *parity, .dataBits = *dataBits, .stopBits = *stopBits};
}

double characterMicroseconds(const LineSettings &settings)
{
    const double parityBits = settings.parity == Parity::None ? 0.0 : 1.0;
    const double stopBits = settings.stopBits == StopBits::One          ? 1.0
                            : settings.stopBits == StopBits::OneAndHalf ? 1.5
                                                                        : 2.0;
    const double bits = 1.0 + settings.dataBits + parityBits + stopBits;
    return bits * 1'000'000.0 / settings.baudRate;
}

}  // namespace korvantel
