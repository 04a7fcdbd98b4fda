// SPDX-License-Identifier: MIT
// libFuzzer target for the field-to-byte rule. Checks every input against a
// plain restatement of the rule, and at start that every byte in ASCII and
// Thai digits, with blanks around, reads back as itself.

#include "unit_command_frame.h"

#include <QString>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>

using korvantel::FieldByte;
using korvantel::FieldError;
using korvantel::fieldToByte;

namespace {

[[noreturn]] void fail(const char *what, const QString &text)
{
    std::fprintf(stderr, "%s: \"%s\"\n", what, text.toUtf8().constData());
    std::abort();
}

// The rule, written the long way: blanks off, one optional sign, then only
// ASCII or Thai digits; at most 255 and not negative.
FieldByte expected(const QString &text)
{
    std::string digits;
    const QString trimmed = text.trimmed();
    qsizetype start = !trimmed.isEmpty() && (trimmed[0] == u'+' || trimmed[0] == u'-') ? 1 : 0;
    for (qsizetype i = start; i < trimmed.size(); ++i) {
        const char16_t c = trimmed[i].unicode();
        if (c >= u'0' && c <= u'9')
            digits += static_cast<char>(c);
        else if (c >= u'\u0E50' && c <= u'\u0E59')
            digits += static_cast<char>('0' + (c - u'\u0E50'));
        else
            return {0, FieldError::NotANumber};
    }
    if (digits.empty())
        return {0, FieldError::NotANumber};
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    const bool negative = start == 1 && trimmed[0] == u'-' && digits != "0";
    if (digits.size() > 3 || std::stoi(digits) > 255 || negative)
        return {0, FieldError::OutOfRange};
    return {static_cast<std::uint8_t>(std::stoi(digits)), FieldError::None};
}

QString thaiDigits(int value)
{
    QString text = QString::number(value);
    for (QChar &c : text)
        c = QChar(static_cast<char16_t>(u'\u0E50' + (c.unicode() - u'0')));
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    for (int value = 0; value < 256; ++value) {
        for (const QString &digits : {QString::number(value), thaiDigits(value)}) {
            for (const QString &text : {digits, u' ' + digits + u' ', u'\t' + digits + QStringLiteral("  ")}) {
                const FieldByte result = fieldToByte(text);
                if (!result.ok() || result.value != value)
                    fail("a byte did not read back as itself", text);
            }
        }
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const FieldByte result = fieldToByte(text);
    const FieldByte oracle = expected(text);
    if (result.error != oracle.error)
        fail("accepted or refused against the rule", text);
    if (result.ok() && result.value != oracle.value)
        fail("read as the wrong value", text);
    return 0;
}
