// SPDX-License-Identifier: MIT
#include "visible_text.h"

#include <QList>

namespace korvantel {

namespace {

bool actsRatherThanShows(char32_t character)
{
    switch (QChar::category(character)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

QString escaped(char32_t character)
{
    return character <= 0xFF ? QStringLiteral("\\x%1").arg(character, 2, 16, QLatin1Char('0'))
                             : QStringLiteral("\\u%1").arg(character, 4, 16, QLatin1Char('0'));
}

}  // namespace

QString visibleText(const QString &outside)
{
    QString shown;
    shown.reserve(outside.size());
    for (const char32_t character : outside.toUcs4())
        shown += actsRatherThanShows(character) ? escaped(character) : QString::fromUcs4(&character, 1);
    return shown;
}

qsizetype displayWidth(const QString &text)
{
    qsizetype width = 0;
    for (const char32_t character : text.toUcs4()) {
        const QChar::Category category = QChar::category(character);
        if (category != QChar::Mark_NonSpacing && category != QChar::Mark_Enclosing && category != QChar::Other_Format)
            ++width;
    }
    return width;
}

}  // namespace korvantel
