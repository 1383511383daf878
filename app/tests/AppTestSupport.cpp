#include "AppTestSupport.h"

#include <QCoreApplication>
#include <cstdlib>

#include "CommandIds.h"
#include "RunProgram.h"
#include "StartUp.h"
#include "Utf16.h"

namespace tbm::app::testing {

QApplication& TestApplication() {
  static QApplication* application = [] {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "tbm_app_tests";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return *application;
}

std::filesystem::path BuildBinFolder() { return tbm::testing::ProgramFolder(); }

// ---- the stand-in views and frame ----

TestRecordView::TestRecordView(std::uint16_t viewKind, QWidget* parent)
    : CTBMView(viewKind, parent) {}

void TestRecordView::OnInitialUpdate() {
  ++initialUpdates;
  CTBMView::OnUpdate(nullptr, 0);
}

void TestRecordView::OnUpdate(ui::CView* sender, int hint) {
  hints.push_back(hint);
  CTBMView::OnUpdate(sender, hint);
}

bool TestRecordView::EndEdit() {
  ++endEditCalls;
  return !refuseEndEdit;
}

TestFrame::TestFrame(CTBMDoc* document, std::uint16_t viewKind) : document_(document) {
  resize(240, 320);
  OnCommand(ui::ID_VIEW_FORM, [this] { ShowView(kFormViewKind); });
  OnCommand(ui::ID_VIEW_LIST, [this] { ShowView(kListViewKind); });
  ShowView(viewKind);
}

TestFrame::~TestFrame() {
  // The view goes before the frame's own parts.
  delete GetActiveView();
}

TestRecordView* TestFrame::view() const { return dynamic_cast<TestRecordView*>(GetActiveView()); }

void TestFrame::ShowView(std::uint16_t viewKind) {
  TestRecordView* old = view();
  if (old != nullptr) {
    if (old->viewKind() == viewKind || !old->EndEdit()) return;
    // The document stays while its only view goes.
    const bool autoDelete = document_->autoDelete();
    document_->SetAutoDelete(false);
    SetActiveView(nullptr);
    delete old;
    document_->SetAutoDelete(autoDelete);
    ++switches;
  }
  auto* fresh = new TestRecordView(viewKind, this);
  fresh->setGeometry(rect());
  fresh->SetDocument(document_);
  SetActiveView(fresh);
  fresh->OnInitialUpdate();
}

// ---- the fixture ----

AppTest::AppTest() {
  TestApplication();
  app_ = std::make_unique<CTBMApp>(std::vector<std::string>{});
  EXPECT_EQ(app_->StartEngine(), MDbErrNone);
  if (std::filesystem::exists(BuildBinFolder() / "tbmres" / "tbmres409.so")) {
    EXPECT_TRUE(UseLanguageLibrary(BuildBinFolder()));
  }
  ui::SetMessageBoxAnswerer([this](const ui::MessageBoxRequest& request) {
    messages.push_back(request);
    return answer;
  });
}

AppTest::~AppTest() {
  CTBMDoc::SetRequests({});
  if (document_ != nullptr) CloseDocument();
  frame_.reset();
  app_.reset();
  ui::SetMessageBoxAnswerer(nullptr);
}

bool AppTest::UseLanguageLibrary(const std::filesystem::path& programFolder,
                                 std::uint16_t languageId) {
  std::unique_ptr<res::ResourceLibrary> library;
  const Status found = FindLanguageLibrary(programFolder.string(), languageId, &library);
  EXPECT_TRUE(found.ok()) << found.message();
  if (!found.ok()) return false;
  app_->SetResources(std::move(library));
  return true;
}

bool AppTest::UseLanguageLibraryFile(const std::string& path) {
  std::unique_ptr<res::ResourceLibrary> library;
  const Status loaded = res::ResourceLibrary::Load(path, &library);
  EXPECT_TRUE(loaded.ok()) << loaded.message();
  if (!loaded.ok()) return false;
  app_->SetResources(std::move(library));
  return true;
}

std::u16string AppTest::MakeDatabase(const std::string& name, const std::string& csv,
                                     const std::vector<std::string>& options) {
  const std::filesystem::path csvPath = root_.path() / (name + ".csv");
  EXPECT_TRUE(tbm::testing::WriteWholeFile(csvPath, csv));
  const std::u16string path = u"\\My Documents\\Tabulon\\" + Utf8ToUtf16(name) + u".tbm";
  std::vector<std::string> args = {"create", csvPath.string(), Utf16ToUtf8(path)};
  args.insert(args.end(), options.begin(), options.end());
  const tbm::testing::ProgramResult made =
      tbm::testing::RunProgram((BuildBinFolder() / "tbmdb").string(), args, {}, {});
  EXPECT_EQ(made.status, 0) << made.err;
  return path;
}

std::filesystem::path AppTest::HostPath(const std::u16string& handheldPath) const {
  std::string relative = Utf16ToUtf8(handheldPath);
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  return root_.path() / relative.substr(relative.find_first_not_of('/'));
}

CTBMDoc* AppTest::OpenDocument(const std::u16string& path) {
  EXPECT_EQ(document_, nullptr) << "one document at a time";
  auto* document = new CTBMDoc();
  if (!document->OnOpenDocument(path)) {
    document->OnCloseDocument();
    return nullptr;
  }
  document->SetPathName(path);
  document_ = document;
  return document;
}

TestFrame* AppTest::ShowInFrame(std::uint16_t viewKind) {
  frame_ = std::make_unique<TestFrame>(document_, viewKind);
  app_->SetMainWindow(frame_.get());
  return frame_.get();
}

void AppTest::CloseDocument() {
  CTBMDoc* document = document_;
  document_ = nullptr;
  document->OnCloseDocument();
}

void AppTest::RunPostedEvents() { QCoreApplication::processEvents(); }

std::vector<std::vector<std::u16string>> AppTest::Records() {
  std::vector<std::vector<std::u16string>> records;
  const int count = document_->GetRecordCount();
  const int fields = document_->GetFieldCount();
  for (int r = 0; r < count; ++r) {
    std::vector<std::u16string> values;
    for (int f = 0; f < fields; ++f) {
      values.push_back(
          document_->ReadField(static_cast<std::int16_t>(r), static_cast<std::int16_t>(f))
              .value_or(u"<unreadable>"));
    }
    records.push_back(std::move(values));
  }
  return records;
}

void AppTest::AllowEditing(std::uint16_t viewKind, bool allowed) {
  const std::uint32_t flags = document_->GetViewFlags(viewKind);
  document_->SetViewFlags(viewKind, allowed ? (flags | 1u) : (flags & ~1u));
  EXPECT_EQ(document_->GetViewFlags(viewKind) & 1u, allowed ? 1u : 0u);
}

}  // namespace tbm::app::testing
