// What the handheld program's tests share: one offscreen QApplication for
// the process, and a fixture that gives each test a fresh device with the
// program's application object (engine started, a language library
// loaded), message boxes answered and recorded, databases made by tbmdb
// from CSV text, and a frame whose record views stand in for the list and
// the form.
//
// Use: derive a fixture from AppTest (or use it as it is), make a database
// with MakeDatabase, open it with OpenDocument, drive the document's
// commands and look at the views' hints and the boxes shown.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "FrameWnd.h"
#include "MessageBox.h"
#include "TBMApp.h"
#include "TBMDoc.h"
#include "TBMView.h"
#include "TestSupport.h"

namespace tbm::app::testing {

// A small address book of five people: names in several scripts (CJK,
// Arabic, a combining accent, emoji), birthdays, visit counts, start times
// and notes, in the order tbmdb stores them.
inline constexpr char kPeopleCsv[] =
    "Name:text,Born:date,Visits:number,Start:time,Notes:text\n"
    "Ada Lovelace,12/10/1815,42,9:30 AM,Analytical engine notes\n"
    "\u5c71\u7530 \u592a\u90ce,3/4/1980,7,2:15 PM,\u6771\u4eac\u652f\u5e97 \U0001F363\n"
    "\u0641\u0627\u0637\u0645\u0629 \u0627\u0644\u0632\u0647\u0631\u0627\u0621,7/22/1992,15,"
    "11:00 AM,\u0645\u0631\u062d\u0628\u0627\n"
    "Rene\u0301e N\u00fa\u00f1ez,1/1/2000,-3,12:00 PM,\"Caf\u00e9 \u2615, cr\u00e8me\"\n"
    "Zo\u00eb \U0001F469\u200D\U0001F4BB Smith,2/29/2004,1234,6:45 PM,Night shift\n";

// The process's QApplication (offscreen unless QT_QPA_PLATFORM says
// otherwise), made on first use.
QApplication& TestApplication();

// The folder holding the built programs (build/bin): tbmdb, tbmres/.
std::filesystem::path BuildBinFolder();

// A record view that stands in for the list or the form: it remembers the
// update hints it was sent and answers EndEdit as told.
class TestRecordView : public CTBMView {
 public:
  TestRecordView(std::uint16_t viewKind, QWidget* parent);

  void OnInitialUpdate() override;
  void OnUpdate(ui::CView* sender, int hint) override;
  bool EndEdit() override;

  int initialUpdates = 0;
  std::vector<int> hints;  // the hints of updates after the initial one
  int endEditCalls = 0;
  bool refuseEndEdit = false;
};

// The main frame as the document sees it: one record view of the
// document as its active view, switched between the kinds by ID_VIEW_FORM
// and ID_VIEW_LIST as the document template switches them (the old view
// must end its cell edit; it goes, a new one comes).
class TestFrame : public ui::CFrameWnd {
 public:
  TestFrame(CTBMDoc* document, std::uint16_t viewKind);
  ~TestFrame() override;

  TestRecordView* view() const;
  // Replaces the active view by a new one of viewKind.
  void ShowView(std::uint16_t viewKind);
  int switches = 0;

 private:
  CTBMDoc* document_;
};

class AppTest : public ::testing::Test {
 protected:
  AppTest();
  ~AppTest() override;

  // Loads the language library for languageId from programFolder/tbmres
  // (FindLanguageLibrary); false when none was accepted. The fixture loads
  // the English library from build/bin when present.
  bool UseLanguageLibrary(const std::filesystem::path& programFolder,
                          std::uint16_t languageId = 1033);
  // Loads the library file at path (any name).
  bool UseLanguageLibraryFile(const std::string& path);

  // Makes \My Documents\Tabulon\<name>.tbm with tbmdb create from csv (a
  // header of Name:type columns, then records) and tbmdb's further options
  // (--style Field=list, --values ..., --locked Field, --date-order dmy,
  // ...). Returns its handheld path; fails the test when tbmdb fails.
  std::u16string MakeDatabase(const std::string& name, const std::string& csv,
                              const std::vector<std::string>& options = {});
  // The host path of a handheld path inside the device root.
  std::filesystem::path HostPath(const std::u16string& handheldPath) const;

  // Opens path in a new document, as the template does: null when the open
  // failed (the document is gone again). The document belongs to the
  // fixture until CloseDocument.
  CTBMDoc* OpenDocument(const std::u16string& path);
  // Shows the open document in a frame with a record view of viewKind,
  // made the application's main window.
  TestFrame* ShowInFrame(std::uint16_t viewKind);
  // Closes the document through its close (the views go with it).
  void CloseDocument();
  // Runs the events posted so far (view switches run from the event loop).
  static void RunPostedEvents();

  // Field values of every record in the set's order, one row per record.
  std::vector<std::vector<std::u16string>> Records();
  // Sets or clears bit 0 (editing allowed) of a view kind's flags.
  void AllowEditing(std::uint16_t viewKind, bool allowed);

  // Every box shown since the test began (or since Clear), in order.
  std::vector<ui::MessageBoxRequest> messages;
  // The answer every box gets.
  ui::MessageAnswer answer = ui::MessageAnswer::kOk;

  tbm::testing::ScratchFolder root_{"tbm-app-test"};
  tbm::testing::ScopedEnvironment deviceRoot_{"TBM_DEVICE_ROOT", root_.path().c_str()};
  std::unique_ptr<CTBMApp> app_;
  CTBMDoc* document_ = nullptr;
  std::unique_ptr<TestFrame> frame_;
};

}  // namespace tbm::app::testing
