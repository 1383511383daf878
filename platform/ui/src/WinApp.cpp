#include "WinApp.h"

#include "DocTemplate.h"
#include "FrameWnd.h"
#include "Registry.h"
#include "ResourcesInternal.h"

namespace tbm::ui {

namespace {
CWinApp* theApp = nullptr;
}  // namespace

CWinApp::CWinApp() { theApp = this; }

CWinApp::~CWinApp() {
  // The main window's views and document go while the templates, the
  // language library and the application they use are still here.
  delete mainWindow_;
  templates_.clear();
  ForgetPictures();
  if (theApp == this) theApp = nullptr;
}

CWinApp* CWinApp::Get() { return theApp; }

int CWinApp::Run() {
  if (!InitInstance()) return ExitInstance();
  if (mainWindow_ != nullptr) QApplication::exec();
  delete mainWindow_;
  return ExitInstance();
}

void CWinApp::SetResources(std::unique_ptr<res::ResourceLibrary> library) {
  ForgetPictures();
  resources_ = std::move(library);
}

CDocTemplate* CWinApp::AddDocTemplate(std::unique_ptr<CDocTemplate> docTemplate) {
  templates_.push_back(std::move(docTemplate));
  return templates_.back().get();
}

CDocTemplate* CWinApp::GetFirstDocTemplate() const {
  return templates_.empty() ? nullptr : templates_.front().get();
}

void CWinApp::OnFileNew() {
  if (CDocTemplate* first = GetFirstDocTemplate()) first->OpenDocumentFile(std::nullopt);
}

void CWinApp::OnFileOpen() {
  if (CDocTemplate* first = GetFirstDocTemplate()) first->ShowDocumentList();
}

std::u16string CWinApp::LoadString(std::uint32_t number) const {
  return resources_ != nullptr ? resources_->StringOrEmpty(number) : std::u16string();
}

void CWinApp::SetRegistryKey(const std::u16string& company) { company_ = company; }

namespace {
std::u16string ProfileKey(const std::u16string& company, const std::u16string& section) {
  return u"Software\\" + company + u"\\" + section;
}
}  // namespace

std::uint32_t CWinApp::GetProfileInt(const std::u16string& section, const std::u16string& entry,
                                     std::uint32_t defaultValue) const {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, ProfileKey(company_, section).c_str(), 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS)
    return defaultValue;
  DWORD type = 0;
  DWORD value = 0;
  DWORD bytes = sizeof value;
  LONG result =
      RegQueryValueExW(key, entry.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_DWORD || bytes != sizeof value) return defaultValue;
  return value;
}

bool CWinApp::WriteProfileInt(const std::u16string& section, const std::u16string& entry,
                              std::uint32_t value) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, ProfileKey(company_, section).c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key,
                      &disposition) != ERROR_SUCCESS)
    return false;
  DWORD stored = value;
  LONG result = RegSetValueExW(key, entry.c_str(), 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&stored), sizeof stored);
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

}  // namespace tbm::ui
