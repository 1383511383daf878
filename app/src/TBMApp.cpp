#include "TBMApp.h"

#include "DeviceLanguage.h"
#include "FrameWnd.h"
#include "MessageBox.h"
#include "RecordDialogs.h"
#include "Resources.h"
#include "StartUp.h"
#include "TBMDocTemplate.h"
#include "TBMView.h"
#include "Utf16.h"

namespace tbm::app {

namespace {
constexpr std::uint32_t kEngineStartFailed = 5130;
constexpr std::uint32_t kFileFilter = 64000;
}  // namespace

CTBMApp::CTBMApp(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {
  OnCommand(ui::ID_APP_EXIT, [this] { OnAppExit(); });
  // The about box comes with the program's dialogs.
  OnCommand(ui::ID_APP_ABOUT, [] { ShowAboutBox(); });
  OnCommand(ui::ID_FILE_NEW, [this] { OnFileNew(); });
  OnCommand(ui::ID_FILE_OPEN, [this] { OnFileOpen(); });
}

CTBMApp::~CTBMApp() { StopEngine(); }

CTBMApp* CTBMApp::Get() { return dynamic_cast<CTBMApp*>(ui::CWinApp::Get()); }

MDbEnv* ProgramEngine() {
  CTBMApp* app = CTBMApp::Get();
  return app != nullptr ? app->env() : nullptr;
}

std::int32_t CTBMApp::StartEngine() {
  if (engine_ != nullptr) return MDbErrNone;
  auto engine = std::make_unique<engine::EngineEnvironment>();
  // A failed start leaves nothing started once the environment goes.
  std::int32_t code = engine->Start(true);
  if (code != MDbErrNone) return code;
  code = MDbAgentInit();
  if (code != MDbErrNone) return code;
  engine_ = std::move(engine);
  return MDbErrNone;
}

void CTBMApp::StopEngine() {
  if (engine_ == nullptr) return;
  MDbAgentShutdown();
  engine_.reset();
}

bool CTBMApp::InitInstance() {
  SetRegistryKey(u"Tabulon");

  // Only a handheld of the two kinds the program is made for runs it; on
  // any other the program ends without a word.
  int kind = DeviceKind();
  if (kind != kDevicePalmSize && kind != kDevicePocketPc) return false;

  LANGID language = GetUserDefaultLangID();
  std::unique_ptr<res::ResourceLibrary> library;
  if (!FindLanguageLibrary(ProgramFolder(), language, &library).ok()) {
    ui::ShowMessageBox({LanguageModuleMissingText(language), u"", ui::MessageIcon::kError});
    return false;
  }
  SetResources(std::move(library));

  if (std::int32_t code = StartEngine(); code != MDbErrNone) {
    ui::ResourceMessageBox(kEngineStartFailed, {res::MessageArgument::Number(code)},
                           ui::MessageIcon::kError);
    return false;
  }

  scanner_.Load();

  auto docTemplate = std::make_unique<CTBMDocTemplate>();
  if (auto filter = resources()->String(kFileFilter); filter && !filter->empty())
    docTemplate->SetFilter(ui::ToQString(*filter));
  template_ = docTemplate.get();
  AddDocTemplate(std::move(docTemplate));

  // The command line names at most a database to open; without one, or
  // when it cannot be opened, the document list shows.
  std::optional<std::u16string> path;
  for (const std::string& argument : arguments_) {
    if (!argument.empty()) {
      path = Utf8ToUtf16(argument);
      break;
    }
  }
  if (!path) {
    template_->ShowDocumentList();
  } else if (template_->OpenDocumentFile(path) == nullptr &&
             (mainWindow() == nullptr || mainWindow()->docList() == nullptr)) {
    template_->ShowDocumentList();
  }
  return mainWindow() != nullptr;
}

int CTBMApp::ExitInstance() {
  scanner_.Unload();
  StopEngine();
  return 0;
}

void CTBMApp::OnAppExit() {
  ui::CFrameWnd* frame = mainWindow();
  if (frame == nullptr) return;
  if (CTBMView* view = ActiveRecordView(); view != nullptr) {
    if (!view->EndEdit()) return;
  } else if (frame->GetActiveView() != nullptr) {
    return;
  }
  frame->close();
}

}  // namespace tbm::app
