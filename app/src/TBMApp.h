// CTBMApp: the handheld program's application object. Its start-up checks
// the device, loads the language library, starts the engine and the
// scanner library, creates the document template and opens the database
// named on the command line (or shows the document list); its shut-down
// stops them again. A start-up that fails ends the program: silently on a
// device of the wrong kind, with a message box otherwise.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "EngineEnvironment.h"
#include "ScannerLibrary.h"
#include "WinApp.h"

namespace tbm::app {

class CTBMDocTemplate;

// The program's version; the about box shows it and the language library
// check compares major and minor.
constexpr std::uint16_t kVersionMajor = 2;
constexpr std::uint16_t kVersionMinor = 1;
constexpr std::uint16_t kVersionRevision = 1;
constexpr std::uint16_t kVersionBuild = 17;

class CTBMApp : public ui::CWinApp {
 public:
  // arguments: the command line after the program name.
  explicit CTBMApp(std::vector<std::string> arguments);
  ~CTBMApp() override;

  static CTBMApp* Get();

  bool InitInstance() override;
  int ExitInstance() override;

  // The engine environment every engine call of the program passes.
  // Null while the engine is not started.
  MDbEnv* env() { return engine_ != nullptr ? engine_->env() : nullptr; }
  // Starts the engine (with word breaks) and its agent layer; the engine's
  // code, 0 when both started. On a failure nothing stays started.
  std::int32_t StartEngine();
  // Stops the agent layer and the engine; nothing when not started.
  void StopEngine();
  CTBMDocTemplate* docTemplate() const { return template_; }

  // ID_APP_EXIT: closes the main window once the active record view has
  // ended its cell edit; nothing while the view refuses.
  void OnAppExit();

 private:
  std::vector<std::string> arguments_;
  ScannerLibrary scanner_;

 public:
  ScannerLibrary& scanner() { return scanner_; }
  std::unique_ptr<engine::EngineEnvironment> engine_;
  CTBMDocTemplate* template_ = nullptr;
};

// The running program's engine environment; null before the engine starts
// or when there is no application object.
MDbEnv* ProgramEngine();

}  // namespace tbm::app
