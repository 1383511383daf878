#include "TBMDocTemplate.h"

#include "FrameWnd.h"
#include "MainFrame.h"
#include "TBMDoc.h"
#include "TBMFormView.h"
#include "TBMListView.h"

namespace tbm::app {

namespace {

// The frame's resources: menu bar, tool bar and title.
constexpr std::uint32_t kFrameResources = 128;

std::unique_ptr<ui::CView> MakeView(std::uint16_t viewKind) {
  if (viewKind == kFormViewKind) return std::make_unique<CTBMFormView>();
  return std::make_unique<CTBMListView>();
}

}  // namespace

CTBMDocTemplate::CTBMDocTemplate()
    : ui::CDocTemplate(kFrameResources, {[] { return std::make_unique<CTBMDoc>(); },
                                         [] { return std::make_unique<CMainFrame>(); },
                                         [] { return MakeView(kListViewKind); }}) {
  OnCommand(ui::ID_VIEW_LIST, [this] { SwitchView(kListViewKind); });
  OnCommand(ui::ID_VIEW_FORM, [this] { SwitchView(kFormViewKind); });
  OnUpdateCommand(ui::ID_VIEW_LIST, [](ui::CCmdUI* ui) {
    CTBMView* view = ActiveRecordView();
    ui->SetRadio(view != nullptr && view->viewKind() == kListViewKind);
  });
  OnUpdateCommand(ui::ID_VIEW_FORM, [](ui::CCmdUI* ui) {
    CTBMView* view = ActiveRecordView();
    ui->SetRadio(view != nullptr && view->viewKind() == kFormViewKind);
  });
}

void CTBMDocTemplate::SwitchView(std::uint16_t viewKind) {
  CTBMView* view = ActiveRecordView();
  if (view == nullptr || view->viewKind() == viewKind) return;
  if (!view->EndEdit()) return;
  ui::CFrameWnd* frame = view->GetParentFrame();
  if (frame != nullptr) frame->ReplaceView(MakeView(viewKind));
}

void CTBMDocTemplate::OnFrameForDocument(ui::CFrameWnd* frame) {
  if (auto* main = dynamic_cast<CMainFrame*>(frame)) main->ApplyBarInfo();
}

}  // namespace tbm::app
