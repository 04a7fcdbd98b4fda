// SPDX-License-Identifier: MIT
#pragma once

#include "station.h"

#include <QByteArray>
#include <QString>

namespace korvantel {

// The station two ways: Thai for a person at a terminal, where every text
// from outside is made visible (visibleText); and one JSON object for a
// program, where every such text is a JSON string of the value itself.
// The keys are documented in the manual pages and stay stable.
QString listText(const StationList &list);
QByteArray listJson(const StationList &list);
QString checkText(const QList<Finding> &findings);
QByteArray checkJson(const QList<Finding> &findings);

// What assign, clear and grant did: "changed", or "error" with its text.
QByteArray commandJson(bool failed, bool changed, const QString &text);
// What --version says.
QByteArray versionJson(const QString &version);

}  // namespace korvantel
