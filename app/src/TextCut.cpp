#include "TextCut.h"

#include <QRegularExpression>
#include <QTextBoundaryFinder>
#include <vector>

namespace tbm::app {

QString CutToWidth(const QString& text, const QFontMetrics& metrics, int width, bool withDots,
                   bool oneLine) {
  QString kept = text;
  if (metrics.horizontalAdvance(text) > width) {
    // The grapheme boundaries, then the longest prefix that fits.
    std::vector<qsizetype> ends;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype end = finder.toNextBoundary(); end > 0; end = finder.toNextBoundary())
      ends.push_back(end);
    std::size_t low = 0;  // number of characters known to fit
    std::size_t high = ends.size();
    while (low < high) {
      std::size_t middle = (low + high + 1) / 2;
      if (metrics.horizontalAdvance(text.left(ends[middle - 1])) <= width) {
        low = middle;
      } else {
        high = middle - 1;
      }
    }
    kept = low == 0 ? QString() : text.left(ends[low - 1]);
    if (withDots && low > 3) kept = text.left(ends[low - 4]) + QStringLiteral("...");
  }
  if (oneLine) {
    qsizetype lineEnd = kept.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    if (lineEnd >= 0) kept.truncate(lineEnd);
  }
  return kept;
}

}  // namespace tbm::app
