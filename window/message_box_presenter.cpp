// SPDX-License-Identifier: MIT
#include "message_box_presenter.h"

#include <QMessageBox>
#include <QScreen>
#include <QStyle>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace korvantel {

namespace {

// The width a message box prefers: half its screen, at most 500 pixels. It
// breaks lines only where a line may break, so a longer run with no such
// place (a lock file's or a device's name) would widen it past the screen.
constexpr int kPreferredWidth = 500;

// Each of the next boundaries of `kind` in `text`, with the part before it.
template <typename Visit>
void forEachPart(QTextBoundaryFinder::BoundaryType kind, const QString &text, Visit visit)
{
    QTextBoundaryFinder boundaries(kind, text);
    qsizetype start = 0;
    for (qsizetype end = boundaries.toNextBoundary(); end > start; start = end, end = boundaries.toNextBoundary())
        visit(text.mid(start, end - start));
}

// A run that cannot break, cut between its characters into lines no wider than `width`.
QString cutToWidth(const QString &run, const QFontMetrics &metrics, int width)
{
    if (metrics.horizontalAdvance(run) <= width)
        return run;
    QString cut;
    int lineWidth = 0;
    forEachPart(QTextBoundaryFinder::Grapheme, run, [&](const QString &character) {
        const int advance = metrics.horizontalAdvance(character);
        if (lineWidth > 0 && lineWidth + advance > width) {
            cut += u'\n';
            lineWidth = 0;
        }
        cut += character;
        lineWidth += advance;
    });
    return cut;
}

// Only the runs too wide for any line are cut; the box wraps the rest itself.
QString cutLongRuns(const QString &text, const QFontMetrics &metrics, int width)
{
    QString cut;
    forEachPart(QTextBoundaryFinder::Line, text, [&](const QString &run) { cut += cutToWidth(run, metrics, width); });
    return cut;
}

}  // namespace

void MessageBoxPresenter::showMessage(Kind kind, const QString &title, const QString &text)
{
    QMessageBox box(m_parent);
    box.setWindowTitle(title);
    box.setIcon(kind == Kind::Confirmation ? QMessageBox::NoIcon : QMessageBox::Warning);
    // Never markup, whatever a name in it looks like.
    box.setTextFormat(Qt::PlainText);
    const int preferred = std::min(m_parent->screen()->availableGeometry().width() / 2, kPreferredWidth);
    const int icon = box.style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &box);
    box.setText(cutLongRuns(text, box.fontMetrics(), preferred - icon));
    box.addButton(QStringLiteral("ตกลง"), QMessageBox::AcceptRole);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

}  // namespace korvantel
