#include "TBMApp.h"

namespace tbm::app {

CTBMApp::CTBMApp(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {}

CTBMApp::~CTBMApp() { StopEngine(); }

CTBMApp* CTBMApp::Get() { return dynamic_cast<CTBMApp*>(ui::CWinApp::Get()); }

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

bool CTBMApp::InitInstance() { return StartEngine() == MDbErrNone; }

int CTBMApp::ExitInstance() {
  StopEngine();
  return 0;
}

}  // namespace tbm::app
