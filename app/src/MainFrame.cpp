#include "MainFrame.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QProcess>

#include "CommandBar.h"
#include "DocList.h"
#include "ProgramRequests.h"
#include "Resources.h"
#include "ScannerLibrary.h"
#include "SystemPaths.h"
#include "TBMApp.h"
#include "TBMDoc.h"
#include "TBMView.h"
#include "ToolBar.h"
#include "WinApp.h"

namespace tbm::app {

namespace {

constexpr std::uint32_t kBarInfoUnset = 0xFFFF;
const std::u16string kSection = u"Mobile";
const std::u16string kBarInfo = u"BarInfo";

constexpr std::uint32_t kMenuFrame = 128;
constexpr std::uint32_t kMenuDocList = 108;
constexpr std::uint32_t kToolBarCommands = 128;
constexpr std::uint32_t kToolBarNavigation = 143;
constexpr std::uint32_t kPictureFoundSet = 307;
constexpr std::uint32_t kPictureFoundSetChanged = 308;

constexpr int kTitlePaneWidth = 120;
constexpr int kFoundSetPaneWidth = 15;

HelpLauncher& Launcher() {
  static HelpLauncher launcher;
  return launcher;
}

// The help viewer beside the program.
bool StartHelpViewer(const QString& topic) {
  WCHAR path[4096];
  DWORD length = GetModuleFileNameW(nullptr, path, 4096);
  if (length == 0 || length >= 4096) return false;
  QString folder = QFileInfo(ui::ToQString(std::u16string_view(path, length))).absolutePath();
  return QProcess::startDetached(QDir(folder).filePath(QStringLiteral("peghelp")), {topic});
}

std::vector<QString> LoadTips(std::initializer_list<std::uint32_t> numbers) {
  std::vector<QString> tips;
  for (std::uint32_t number : numbers) tips.push_back(ui::LoadQString(number));
  return tips;
}

}  // namespace

QString HelpTopic(int code) {
  const char* anchor = "Main_Contents";
  switch (code) {
    case 1:
      anchor = "about";
      break;
    case 101:
      anchor = "load_db";
      break;
    case 102:
      anchor = "sync_db";
      break;
    case 103:
      anchor = "open_db";
      break;
    case 104:
      anchor = "del_db";
      break;
    case 201:
      anchor = "view_rec";
      break;
    case 202:
      anchor = "add_rec";
      break;
    case 203:
      anchor = "del_rec";
      break;
    case 204:
      anchor = "find_rec";
      break;
    case 205:
      anchor = "sort_rec";
      break;
    case 301:
      anchor = "disp_opt";
      break;
    case 401:
      anchor = "hardware";
      break;
    default:
      break;
  }
  return QStringLiteral("file:tbmobile.htm#") + QLatin1String(anchor);
}

void SetHelpLauncher(HelpLauncher launcher) { Launcher() = std::move(launcher); }

bool ShowHelp(int code) {
  QString topic = HelpTopic(code);
  return Launcher() ? Launcher()(topic) : StartHelpViewer(topic);
}

bool ReadBarBit(int bit) {
  ui::CWinApp* app = ui::CWinApp::Get();
  if (app == nullptr) return true;
  std::uint32_t info = app->GetProfileInt(kSection, kBarInfo, kBarInfoUnset);
  if (info == kBarInfoUnset) {
    // Nothing stored yet: every bar shows, and that is what is stored.
    app->WriteProfileInt(kSection, kBarInfo, (1u << kToolBarBit) | (1u << kStatusBarBit));
    return true;
  }
  return (info & (1u << bit)) != 0;
}

void WriteBarBit(int bit, bool shown) {
  ui::CWinApp* app = ui::CWinApp::Get();
  if (app == nullptr) return;
  std::uint32_t info = app->GetProfileInt(kSection, kBarInfo, 0);
  if (info == kBarInfoUnset) info = 0;
  info = shown ? info | (1u << bit) : info & ~(1u << bit);
  app->WriteProfileInt(kSection, kBarInfo, info);
}

CTBMStatusBar::CTBMStatusBar(QWidget* parent) : ui::CStatusBar(parent) {
  const ui::CommandId panes[] = {ui::ID_INDICATOR_TITLE, ui::ID_INDICATOR_RECORD,
                                 ui::ID_INDICATOR_FOUND_SET};
  SetIndicators(panes);
  SetPaneInfo(0, ui::ID_INDICATOR_TITLE, kTitlePaneWidth, false);
  SetPaneInfo(1, ui::ID_INDICATOR_RECORD, 1, true);
  SetPaneInfo(2, ui::ID_INDICATOR_FOUND_SET, 0, false);
  SetBorders(Qt::BottomEdge);
  setFont(MakeViewFont(kFontNormal));
}

int CTBMStatusBar::BarHeight() const { return std::max(16, fontMetrics().height() + 4); }

namespace {
// The frame's active document when it is the program's.
CTBMDoc* ActiveDocument(ui::CFrameWnd* frame) {
  return frame != nullptr ? dynamic_cast<CTBMDoc*>(frame->GetActiveDocument()) : nullptr;
}
}  // namespace

void CTBMStatusBar::OnUpdateCmdUI(ui::CFrameWnd* frame) {
  ui::CStatusBar::OnUpdateCmdUI(frame);
  CTBMDoc* document = ActiveDocument(frame);
  SetPaneWidth(2, document != nullptr && document->IsFiltered() ? kFoundSetPaneWidth : 0);
}

void CTBMStatusBar::DrawItem(QPainter& painter, int index, const QRect& rect) {
  painter.setFont(MakeViewFont(kFontNormal));
  if (index == 0) {
    QString title = GetPaneText(0);
    int dot = title.indexOf(u'.');
    if (dot >= 0) title.truncate(dot);
    QRect text = rect.adjusted(3, 0, 0, 0);
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     CutTextToWidth(title, painter.fontMetrics(), text.width(), true, true));
  } else if (index == 1) {
    painter.drawText(rect, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, GetPaneText(1));
  } else if (index == 2) {
    CTBMDoc* document = ActiveDocument(GetParentFrame());
    if (document == nullptr || !document->IsFiltered()) return;
    QPixmap mark =
        ui::LoadPicture(document->IsFilteredDirty() ? kPictureFoundSetChanged : kPictureFoundSet,
                        devicePixelRatioF());
    if (mark.isNull()) return;
    QSize size = mark.deviceIndependentSize().toSize();
    painter.drawPixmap(rect.x() + (rect.width() - size.width()) / 2,
                       rect.y() + (rect.height() - size.height()) / 2, mark);
  }
}

CMainFrame::CMainFrame() {
  OnCommand(ui::ID_VIEW_TOOLBAR, [this] {
    if (toolBar() == nullptr) return;
    bool show = !IsBarShown(toolBar());
    ShowControlBar(toolBar(), show);
    WriteBarBit(kToolBarBit, show);
  });
}

CMainFrame::~CMainFrame() {
  if (ScannerLibrary* scanner = ProgramScanner(); scanner != nullptr && requests_ != nullptr)
    scanner->StopRead();
  // The document list hides both bars; only a frame showing records keeps
  // what the user chose.
  if (dynamic_cast<CTBMView*>(GetActiveView()) != nullptr) SaveBarInfo();
}

bool CMainFrame::OnCreate() {
  auto commandBar = std::make_unique<ui::CCommandBar>(this);
  if (!commandBar->InsertMenuBar(kMenuFrame) || !commandBar->LoadToolBar(kToolBarCommands))
    return false;
  commandBar->SetToolTips(LoadTips({65001, 65002, 65003, 65004, 65005}));
  commandBar->SetButtonSize(QSize(18, 19));
  SetCommandBar(std::move(commandBar));

  auto toolBar = std::make_unique<ui::CToolBarEx>(this);
  if (!toolBar->LoadToolBar(kToolBarNavigation)) return false;
  toolBar->SetToolTips(LoadTips({65010, 65011, 65012, 65013, 65014, 65017, 65018, 65019, 65020}));
  ui::CToolBarEx* navigation = SetToolBar(std::move(toolBar));
  ShowControlBar(navigation, ReadBarBit(kToolBarBit));

  ui::CStatusBar* status = SetStatusBar(std::make_unique<CTBMStatusBar>());
  ShowControlBar(status, ReadBarBit(kStatusBarBit));

  // Other processes reach the program through its main window, and the
  // scanner reports its labels there.
  requests_ = new CProgramRequests(this);
  if (ScannerLibrary* scanner = ProgramScanner()) scanner->RequestRead(requests_->window());
  return true;
}

void CMainFrame::ApplyBarInfo() {
  if (toolBar() != nullptr) ShowControlBar(toolBar(), ReadBarBit(kToolBarBit));
  if (statusBar() != nullptr) ShowControlBar(statusBar(), ReadBarBit(kStatusBarBit));
  UpdateCommand(ui::ID_VIEW_TOOLBAR);
}

void CMainFrame::SaveBarInfo() {
  if (toolBar() != nullptr) WriteBarBit(kToolBarBit, IsBarShown(toolBar()));
  if (statusBar() != nullptr) WriteBarBit(kStatusBarBit, IsBarShown(statusBar()));
}

bool CMainFrame::OnHelpRequest() {
  ShowHelp(dynamic_cast<CTBMView*>(GetActiveView()) != nullptr ? kHelpViewRecords
                                                               : kHelpOpenDatabase);
  return true;
}

void CMainFrame::OnActivateFrame(bool active, bool byTap) {
  ui::CFrameWnd::OnActivateFrame(active, byTap);
  // Labels go to the program only while it is in front (unless a dialog of
  // its own has the front).
  if (QApplication::activeModalWidget() == nullptr) ScannerFollowsActivation(active);
  if (active && !byTap) {
    if (ui::CDocList* list = docList(); list != nullptr) list->setFocus();
  }
}

void CMainFrame::OnDocListCreated(ui::CDocList* list) {
  ui::CFrameWnd::OnDocListCreated(list);
  ui::CCommandBar* bar = list->commandBar();
  if (int index = bar->CommandToIndex(ui::CDocList::kNewButtonCommand); index >= 0)
    bar->DeleteButton(index);
  bar->InsertMenuBar(kMenuDocList);
  if (statusBar() != nullptr) ShowControlBar(statusBar(), false);
  if (toolBar() != nullptr) ShowControlBar(toolBar(), false);
  RecalcLayout();
}

}  // namespace tbm::app
