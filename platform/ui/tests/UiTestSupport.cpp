#include "UiTestSupport.h"

#include <QPainter>

#include "DocList.h"

namespace tbm::ui::testing {

namespace {

QIcon ColourIcon(QColor colour) {
  QPixmap pixmap(16, 16);
  pixmap.fill(colour);
  return QIcon(pixmap);
}

}  // namespace

void TestStatusBar::DrawItem(QPainter& painter, int index, const QRect& rect) {
  ++drawn;
  painter.fillRect(rect, PaneColour(index));
  painter.setPen(Qt::white);
  painter.drawText(rect, Qt::AlignCenter, GetPaneText(index));
}

res::MenuItem Command(const char16_t* text, CommandId id) {
  res::MenuItem item;
  item.kind = res::MenuItem::Kind::kCommand;
  item.text = text;
  item.command = id;
  return item;
}

res::MenuItem Popup(const char16_t* text, std::vector<res::MenuItem> children) {
  res::MenuItem item;
  item.kind = res::MenuItem::Kind::kPopup;
  item.text = text;
  item.children = std::move(children);
  return item;
}

res::MenuItem Separator() {
  res::MenuItem item;
  item.kind = res::MenuItem::Kind::kSeparator;
  return item;
}

res::ToolBar Buttons(std::initializer_list<CommandId> ids) {
  res::ToolBar bar;
  for (CommandId id : ids) {
    res::ToolBarButton button;
    button.separator = id == 0;
    button.command = id;
    bar.buttons.push_back(button);
  }
  return bar;
}

res::Menu TestMenuBar() {
  res::Menu menu;
  menu.items.push_back(Popup(u"&Record", {Command(u"&New", kEnabledCommand), Separator(),
                                          Command(u"&Go To...", kUnhandledCommand)}));
  menu.items.push_back(
      Popup(u"&View",
            {Command(u"&List", ID_VIEW_LIST), Command(u"&Form", ID_VIEW_FORM), Separator(),
             Command(u"&Options...", kCheckedCommand), Command(u"&Tool Bar", ID_VIEW_TOOLBAR)}));
  return menu;
}

bool TestFrame::OnCreate() {
  CCommandBar* bar = SetCommandBar(std::make_unique<CCommandBar>(this));
  bar->InsertMenuBar(menu.items.empty() ? TestMenuBar() : menu);
  bar->InsertButton(0, kEnabledCommand, ColourIcon(Qt::darkGreen));
  bar->InsertSeparator(1);
  bar->InsertButton(2, ID_VIEW_TOOLBAR, ColourIcon(Qt::darkBlue));
  bar->InsertButton(3, kUnhandledCommand, ColourIcon(Qt::darkRed));
  bar->SetButtonSize(QSize(18, 19));
  bar->SetToolTips(
      {QStringLiteral("New record"), QStringLiteral("Tool bar"), QStringLiteral("Go to")});

  CToolBarEx* navigation = SetToolBar(std::make_unique<CToolBarEx>(this));
  navigation->InsertButton(0, ID_RECORD_FIRST, ColourIcon(Qt::black));
  navigation->InsertButton(1, ID_RECORD_PREV, ColourIcon(Qt::darkGray));
  navigation->InsertButton(2, ID_RECORD_NEXT, ColourIcon(Qt::gray));
  navigation->InsertButton(3, ID_RECORD_LAST, ColourIcon(Qt::lightGray));
  navigation->SetToolTips({QStringLiteral("First"), QStringLiteral("Previous"),
                           QStringLiteral("Next"), QStringLiteral("Last")});

  CStatusBar* status = SetStatusBar(std::make_unique<TestStatusBar>());
  const CommandId panes[] = {ID_INDICATOR_TITLE, ID_INDICATOR_RECORD, ID_INDICATOR_FOUND_SET};
  status->SetIndicators(panes);
  status->SetPaneInfo(0, ID_INDICATOR_TITLE, 120, false);
  status->SetPaneInfo(1, ID_INDICATOR_RECORD, 1, true);
  status->SetPaneInfo(2, ID_INDICATOR_FOUND_SET, 15, false);
  return true;
}

void TestFrame::OnDocListCreated(CDocList* list) {
  ++docListsCreated;
  CCommandBar* bar = list->commandBar();
  bar->DeleteButton(bar->CommandToIndex(CDocList::kNewButtonCommand));
  bar->InsertMenuBar(TestMenuBar());
  ShowControlBar(statusBar(), false);
  ShowControlBar(toolBar(), false);
}

}  // namespace tbm::ui::testing
