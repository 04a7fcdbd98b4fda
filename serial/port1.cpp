// SPDX-License-Identifier: MIT
#include "port1.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace korvantel {

QString builtInPort(const Port1Places &places)
{
    const QFileInfo builtIn(places.builtInDevice);
    if (builtIn.exists() && !isGhostUart(builtIn.canonicalFilePath(), places.ttyClassFolder))
        return places.builtInDevice;
    return {};
}

QString choosePort1(const Port1Places &places)
{
    const QFileInfo alias(places.alias);
    if (!places.alias.isEmpty() && (alias.exists() || alias.isSymLink()))
        return places.alias;
    return builtInPort(places);
}

QStringList serialAdapters(const Port1Places &places)
{
    QStringList byId;
    const QDir byIdFolder(places.byIdFolder);
    if (!places.byIdFolder.isEmpty()) {
        for (const QString &name : byIdFolder.entryList(QDir::System | QDir::Files))
            byId.append(byIdFolder.filePath(name));
    }

    QStringList adapters;
    for (const QString &pattern : places.adapterPatterns) {
        const QFileInfo where(pattern);
        const QDir folder = where.dir();
        for (const QString &name : folder.entryList({where.fileName()}, QDir::System | QDir::Files)) {
            const QString device = folder.filePath(name);
            const QString real = QFileInfo(device).canonicalFilePath();
            const auto named = std::ranges::find_if(byId, [&](const QString &link) {
                return QFileInfo(link).canonicalFilePath() == real;
            });
            adapters.append(named == byId.end() ? device : *named);
        }
    }
    return adapters;
}

bool isGhostUart(const QString &realDevice, const QString &ttyClassFolder)
{
    if (ttyClassFolder.isEmpty())
        return false;
    QFile type(QDir(ttyClassFolder).filePath(QFileInfo(realDevice).fileName() + QStringLiteral("/type")));
    return type.open(QIODevice::ReadOnly) && type.readAll().trimmed() == "0";
}

}  // namespace korvantel
