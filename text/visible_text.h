// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace korvantel {

// Text from outside the program (a process's name, a file or device name, the
// system's words), made fit to stand inside a message: every control
// character, direction control or other invisible format character is shown
// as an escape (\x0a, \u202e) rather than obeyed, so that it cannot break a
// line, reorder the Thai around it or hide a part of the name. Anything else
// stays as it is.
QString visibleText(const QString &outside);

// How many columns a terminal gives the text: a Thai vowel or tone mark above
// or below a letter, or an invisible format character, takes none.
qsizetype displayWidth(const QString &text);

}  // namespace korvantel
