#include "TBMView.h"

#include <QApplication>
#include <QStringList>
#include <QStyle>
#include <QStyleFactory>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <vector>

#include "FrameWnd.h"
#include "WinApp.h"

namespace tbm::app {

void StyleViewScrollBar(QWidget* bar) {
  // One style serves every view; the application owns it.
  static QPointer<QStyle> style;
  if (style.isNull()) {
    style = QStyleFactory::create(QStringLiteral("Windows"));
    if (style.isNull()) return;
    style->setParent(qApp);
  }
  bar->setStyle(style);
}

QFont MakeViewFont(int fontKind) {
  QString face = QStringLiteral("Tahoma");
  int weight = 400;
  int height = -11;
  if (ui::CWinApp* app = ui::CWinApp::Get(); app != nullptr) {
    std::u16string spec = app->LoadString(fontKind == kFontLarge ? 4001 : 4000);
    QStringList pieces =
        QString::fromUtf16(spec.data(), static_cast<qsizetype>(spec.size())).split(u',');
    if (pieces.size() > 0 && !pieces[0].trimmed().isEmpty()) face = pieces[0].trimmed();
    bool ok = false;
    if (pieces.size() > 1) {
      int value = pieces[1].trimmed().toInt(&ok);
      if (ok && value > 0 && value <= 1000) weight = value;
    }
    if (pieces.size() > 2) {
      int value = pieces[2].trimmed().toInt(&ok);
      if (ok && value != 0 && value > -200 && value < 200) height = value;
    }
  }
  QFont font(face);
  // A negative height is the character height in pixels; a positive one the
  // cell height, of which the character takes about nine tenths.
  font.setPixelSize(height < 0 ? -height : std::max(1, height * 9 / 10));
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  return font;
}

namespace {

// Offsets of the characters (grapheme clusters) of text: 0, each boundary,
// text.size().
std::vector<qsizetype> CharacterBoundaries(const QString& text) {
  std::vector<qsizetype> bounds{0};
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
  while (finder.toNextBoundary() != -1) bounds.push_back(finder.position());
  if (bounds.back() != text.size()) bounds.push_back(text.size());
  return bounds;
}

// The largest count of characters whose prefix fits in width: widths grow
// with the count.
int CharactersThatFit(const QString& text, const std::vector<qsizetype>& bounds,
                      const QFontMetrics& metrics, int width) {
  int low = 0;
  int high = static_cast<int>(bounds.size()) - 1;
  while (low < high) {
    int middle = (low + high + 1) / 2;
    if (metrics.horizontalAdvance(text.left(bounds[middle])) <= width)
      low = middle;
    else
      high = middle - 1;
  }
  return low;
}

}  // namespace

QString CutTextToWidth(const QString& text, const QFontMetrics& metrics, int width, bool ellipsis,
                       bool oneLine) {
  QString source = text;
  if (oneLine) {
    qsizetype end = 0;
    while (end < source.size() && source[end] != u'\r' && source[end] != u'\n') ++end;
    source.truncate(end);
  }
  // No character is narrower than a pixel in any font a view uses, but
  // combining marks take no width: a few per pixel are allowed, and a text
  // longer than that is only measured that far.
  const qsizetype reach = std::max<qsizetype>(64, static_cast<qsizetype>(std::max(width, 0)) * 8);
  const bool whole = source.size() <= reach;
  if (!whole) source.truncate(reach);
  std::vector<qsizetype> bounds = CharacterBoundaries(source);
  const int all = static_cast<int>(bounds.size()) - 1;
  const int fit = width > 0 ? CharactersThatFit(source, bounds, metrics, width) : 0;
  if (whole && fit == all) return source;
  if (!ellipsis || fit <= 3) return source.left(bounds[fit]);
  // Three dots may be wider than the three characters they replace: fewer
  // characters are kept rather than draw past the width.
  int keep = fit - 3;
  QString result = source.left(bounds[keep]) + QStringLiteral("...");
  while (keep > 0 && metrics.horizontalAdvance(result) > width) {
    --keep;
    result = source.left(bounds[keep]) + QStringLiteral("...");
  }
  return result;
}

CTBMView::CTBMView(std::uint16_t viewKind, QWidget* parent)
    : ui::CView(parent), viewKind_(viewKind) {
  SetFontKind(kFontNormal);
}

CTBMView::~CTBMView() = default;

CTBMDoc* CTBMView::GetDocument() const { return dynamic_cast<CTBMDoc*>(ui::CView::GetDocument()); }

void CTBMView::SetFontKind(int kind) {
  if (kind == fontKind_) return;
  fontKind_ = kind;
  viewFont_ = MakeViewFont(kind);
}

QRect CTBMView::GetCellRect(std::int16_t, std::int16_t) { return QRect(); }

bool CTBMView::WantsEditorScrollBar(std::int16_t, std::int16_t) { return false; }

int CTBMView::GetCellHeight() { return 0; }

bool CTBMView::BeginEdit(std::int16_t, std::int16_t) { return false; }

bool CTBMView::EndEdit() { return true; }

void CTBMView::ForwardTap(QPoint) {}

void CTBMView::EnsureVisible(std::int16_t, std::int16_t) {}

void CTBMView::RepaintFrameStatusBar() {
  ui::CWinApp* app = ui::CWinApp::Get();
  if (app == nullptr || app->mainWindow() == nullptr) return;
  app->mainWindow()->RepaintStatusBar();
}

CTBMView* ActiveRecordView() {
  ui::CWinApp* app = ui::CWinApp::Get();
  if (app == nullptr || app->mainWindow() == nullptr) return nullptr;
  return dynamic_cast<CTBMView*>(app->mainWindow()->GetActiveView());
}

}  // namespace tbm::app
