#include "TBMView.h"

#include <QStringList>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <vector>

#include "FrameWnd.h"
#include "WinApp.h"

namespace tbm::app {

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
