// Cutting a text to a width, as every record view and the status bar cut
// the texts they draw: keep the characters that fit; when some were cut
// and the cut is marked, the last three kept become "..." (when more than
// three fit); for a one-line display only the text before the first line
// break stays. Characters are whole user-perceived characters, so a cut
// never splits a surrogate pair or a letter from its combining marks.
#pragma once

#include <QFontMetrics>
#include <QString>

namespace tbm::app {

QString CutToWidth(const QString& text, const QFontMetrics& metrics, int width, bool withDots,
                   bool oneLine);

}  // namespace tbm::app
