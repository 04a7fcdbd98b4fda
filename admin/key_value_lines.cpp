// SPDX-License-Identifier: MIT
#include "key_value_lines.h"

#include <QList>

namespace korvantel {

QMap<QString, QString> parseKeyValueLines(const QByteArray &text)
{
    QMap<QString, QString> pairs;
    for (const QByteArray &line : text.split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            pairs.insert(QString::fromUtf8(line.left(equals)), QString::fromUtf8(line.mid(equals + 1)));
    }
    return pairs;
}

}  // namespace korvantel
