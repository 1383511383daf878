// The application object: the one per process that owns the language
// library, the profile in the registry and the main window, and is the
// last target on every command's route.
#pragma once

#include <QApplication>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CmdTarget.h"
#include "ResourceLibrary.h"

namespace tbm::ui {

class CFrameWnd;
class CDocTemplate;

class CWinApp : public CCmdTarget {
 public:
  CWinApp();
  ~CWinApp() override;

  // The one application object, or null before it is made.
  static CWinApp* Get();

  // Start-up and shut-down, overridden by the program. Run calls
  // InitInstance, runs the event loop while it succeeded and there is a
  // main window, deletes a main window still there, then calls
  // ExitInstance and returns its code.
  virtual bool InitInstance() { return true; }
  virtual int ExitInstance() { return 0; }
  int Run();

  // The language library every text, menu, bar and picture comes from.
  // Null until the program sets it. Setting it forgets the pictures drawn
  // from the earlier one.
  res::ResourceLibrary* resources() const { return resources_.get(); }
  void SetResources(std::unique_ptr<res::ResourceLibrary> library);
  // String number of the language library; empty when missing.
  std::u16string LoadString(std::uint32_t number) const;

  // The profile: HKEY_CURRENT_USER\Software\<company>\<section>, values as
  // REG_DWORD.
  void SetRegistryKey(const std::u16string& company);
  std::uint32_t GetProfileInt(const std::u16string& section, const std::u16string& entry,
                              std::uint32_t defaultValue) const;
  bool WriteProfileInt(const std::u16string& section, const std::u16string& entry,
                       std::uint32_t value);

  CFrameWnd* mainWindow() const { return mainWindow_; }
  void SetMainWindow(CFrameWnd* frame) { mainWindow_ = frame; }

  // The document templates, owned by the application; they go after the
  // main window when the application goes.
  CDocTemplate* AddDocTemplate(std::unique_ptr<CDocTemplate> docTemplate);
  CDocTemplate* GetFirstDocTemplate() const;

  // The framework's new and open, for a program to register as the
  // handlers of ID_FILE_NEW and ID_FILE_OPEN: new makes an empty document
  // in the first template; open shows its document list.
  void OnFileNew();
  void OnFileOpen();

  // The name of the program's log file (ProgramLog.h), where the framework
  // writes what it cannot show: "Tabulon Mobile" until set.
  const std::string& logName() const { return logName_; }
  void SetLogName(std::string name) { logName_ = std::move(name); }

 private:
  std::unique_ptr<res::ResourceLibrary> resources_;
  std::vector<std::unique_ptr<CDocTemplate>> templates_;
  std::string logName_ = "Tabulon Mobile";
  std::u16string company_;
  CFrameWnd* mainWindow_ = nullptr;
};

}  // namespace tbm::ui
