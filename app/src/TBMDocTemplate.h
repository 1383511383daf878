// CTBMDocTemplate: the program's document template. It makes a CTBMDoc
// in a CMainFrame with the list view as its first view, shows the document
// list of the device's databases, and switches the frame between the list
// and the form view (ID_VIEW_LIST, ID_VIEW_FORM).
#pragma once

#include <cstdint>

#include "DocTemplate.h"

namespace tbm::app {

class CTBMDocTemplate : public ui::CDocTemplate {
 public:
  CTBMDocTemplate();

  // Replaces the active record view by a view of viewKind (list 3000, form
  // 3100) when the active view can end its cell edit; nothing when it is of
  // that kind already, or no record view is active.
  void SwitchView(std::uint16_t viewKind);

 protected:
  void OnFrameForDocument(ui::CFrameWnd* frame) override;
};

}  // namespace tbm::app
