// The document's record commands as the user gives them, through the
// frame's command route: what each one enables, what it changes, which
// hint the views get, and what the user sees when the engine refuses.
#include <sqlite3.h>

#include <sstream>

#include "AppTestSupport.h"
#include "CommandIds.h"
#include "RunProgram.h"
#include "Utf16.h"

namespace tbm::app::testing {
namespace {

using namespace ui;

class DocumentCommandTest : public AppTest {
 protected:
  DocumentCommandTest() { UseLanguageLibraryFile(TBM_TEST_LANGUAGE_21); }

  // Opens the address book in a frame showing a record view of viewKind.
  void OpenPeople(std::uint16_t viewKind = kListViewKind) {
    ASSERT_NE(OpenDocument(MakeDatabase("People", kPeopleCsv)), nullptr);
    ShowInFrame(viewKind);
  }

  bool Enabled(CommandId id) {
    CCmdUI ui(id);
    frame_->RouteUpdate(&ui);
    return ui.enabled();
  }
  std::u16string PaneText(CommandId id) {
    CCmdUI ui(id);
    frame_->RouteUpdate(&ui);
    return ui.text();
  }
  void Run(CommandId id) { EXPECT_TRUE(frame_->RouteCommand(id)); }
  // The hints the active view got since the last call.
  std::vector<int> TakeHints() { return std::exchange(frame_->view()->hints, {}); }
  std::vector<std::u16string> Names() {
    std::vector<std::u16string> names;
    for (const auto& record : Records()) names.push_back(record[0]);
    return names;
  }
  static std::string Csv(int records) {
    std::ostringstream csv;
    csv << "Item:text,Qty:number\n";
    for (int i = 0; i < records; ++i) csv << "Part " << i << "," << i % 97 << "\n";
    return csv.str();
  }
};

TEST_F(DocumentCommandTest, NavigationIsEnabledExactlyWhenItsMoveIsPossible) {
  OpenPeople();
  EXPECT_EQ(PaneText(ID_INDICATOR_TITLE), u"People.tbm");
  document_->SetRecordIndex(0);
  EXPECT_EQ(PaneText(ID_INDICATOR_RECORD), u"Record 1 of 5");
  EXPECT_FALSE(Enabled(ID_RECORD_FIRST));
  EXPECT_FALSE(Enabled(ID_RECORD_PREV));
  EXPECT_TRUE(Enabled(ID_RECORD_NEXT));
  EXPECT_TRUE(Enabled(ID_RECORD_LAST));
  EXPECT_TRUE(Enabled(ID_RECORD_GOTO));

  // A disabled command given anyway does nothing.
  Run(ID_RECORD_PREV);
  Run(ID_RECORD_FIRST);
  EXPECT_EQ(document_->GetRecordIndex(), 0);
  EXPECT_TRUE(TakeHints().empty());

  Run(ID_RECORD_NEXT);
  EXPECT_EQ(document_->GetRecordIndex(), 1);
  EXPECT_EQ(TakeHints(), std::vector<int>{kHintNavigation});
  EXPECT_EQ(frame_->view()->endEditCalls, 1) << "the record was left first";

  Run(ID_RECORD_LAST);
  EXPECT_EQ(document_->GetRecordIndex(), 4);
  EXPECT_EQ(PaneText(ID_INDICATOR_RECORD), u"Record 5 of 5");
  EXPECT_FALSE(Enabled(ID_RECORD_NEXT));
  EXPECT_FALSE(Enabled(ID_RECORD_LAST));
  EXPECT_TRUE(Enabled(ID_RECORD_PREV));
  TakeHints();
  Run(ID_RECORD_NEXT);
  Run(ID_RECORD_LAST);
  EXPECT_EQ(document_->GetRecordIndex(), 4);
  EXPECT_TRUE(TakeHints().empty());

  // Go to: the dialog's number, when it is a record; nothing on cancel.
  Run(ID_RECORD_GOTO);  // no dialog yet: nothing happens
  EXPECT_EQ(document_->GetRecordIndex(), 4);
  std::optional<std::int16_t> chosen = 2;
  CTBMDoc::SetRequests({.goTo = [&](std::uint16_t count) {
    EXPECT_EQ(count, 5);
    return chosen;
  }});
  Run(ID_RECORD_GOTO);
  EXPECT_EQ(document_->GetRecordIndex(), 2);
  for (auto answer : {std::optional<std::int16_t>(), std::optional<std::int16_t>(5),
                      std::optional<std::int16_t>(-1)}) {
    chosen = answer;
    Run(ID_RECORD_GOTO);
    EXPECT_EQ(document_->GetRecordIndex(), 2);
  }

  // A field edit that cannot end keeps the user on the record.
  frame_->view()->refuseEndEdit = true;
  Run(ID_RECORD_FIRST);
  EXPECT_EQ(document_->GetRecordIndex(), 2);
  frame_->view()->refuseEndEdit = false;

  // An empty set: only a new record (and finding nothing) makes sense.
  CTBMDoc::SetRequests({.confirmDelete = [](DeleteMode mode) {
    EXPECT_EQ(mode, DeleteMode::kAllRecords);
    return std::optional<DeleteAnswer>(DeleteAnswer{false});
  }});
  Run(ID_RECORD_DELETE_ALL);
  EXPECT_EQ(document_->GetRecordCount(), 0);
  EXPECT_EQ(document_->GetRecordIndex(), -1);
  for (CommandId id : {ID_RECORD_FIRST, ID_RECORD_LAST, ID_RECORD_NEXT, ID_RECORD_PREV,
                       ID_RECORD_GOTO, ID_RECORD_DUPLICATE, ID_RECORD_DELETE, ID_RECORD_DELETE_ALL,
                       ID_RECORD_FIND, ID_RECORD_SORT, ID_RECORD_SHOW_ALL})
    EXPECT_FALSE(Enabled(id)) << std::hex << id;
  EXPECT_TRUE(Enabled(ID_RECORD_NEW));
  EXPECT_TRUE(Enabled(ID_VIEW_OPTIONS));
  EXPECT_EQ(PaneText(ID_INDICATOR_RECORD), u"Record 0 of 0");
  EXPECT_TRUE(messages.empty());
}

TEST_F(DocumentCommandTest, NewDuplicateAndDeleteMoveTheCurrentRecordAsUsersExpect) {
  ASSERT_NE(OpenDocument(MakeDatabase("Tools",
                                      "Tool:text,Qty:number\n"
                                      "Hammer,3\nSaw,1\nドライバー,12\n")),
            nullptr);
  ShowInFrame(kListViewKind);
  AllowEditing(kListViewKind, true);
  document_->SetRecordIndex(1);

  Run(ID_RECORD_DUPLICATE);
  EXPECT_EQ(document_->GetRecordIndex(), 3);
  EXPECT_EQ(Records()[3], (std::vector<std::u16string>{u"Saw", u"1"}));
  EXPECT_EQ(TakeHints(), std::vector<int>{kHintRecordAdded});

  Run(ID_RECORD_NEW);
  EXPECT_EQ(document_->GetRecordIndex(), 4);
  EXPECT_EQ(Records()[4], (std::vector<std::u16string>{u"", u""}));
  EXPECT_EQ(TakeHints(), std::vector<int>{kHintRecordAdded});
  EXPECT_EQ(frame_->switches, 0) << "editing is allowed where the user is";

  // Delete asks first; no answer, or a field edit that cannot end, stops it.
  Run(ID_RECORD_DELETE);
  EXPECT_EQ(document_->GetRecordCount(), 5);
  std::vector<bool> tracked = {false, false, false, true};
  CTBMDoc::SetRequests({.confirmDelete = [&](DeleteMode mode) -> std::optional<DeleteAnswer> {
    EXPECT_EQ(mode, DeleteMode::kOneRecord);
    if (tracked.empty()) return std::nullopt;
    const bool track = tracked.front();
    tracked.erase(tracked.begin());
    return DeleteAnswer{track};
  }});
  frame_->view()->refuseEndEdit = true;
  Run(ID_RECORD_DELETE);
  EXPECT_EQ(tracked.size(), 4u) << "not asked while the edit stays";
  frame_->view()->refuseEndEdit = false;

  // The last of the records: the one before becomes current.
  Run(ID_RECORD_DELETE);
  Run(ID_RECORD_DELETE);
  EXPECT_EQ(Names(), (std::vector<std::u16string>{u"Hammer", u"Saw", u"ドライバー"}));
  EXPECT_EQ(document_->GetRecordIndex(), 2);
  TakeHints();
  Run(ID_RECORD_DELETE);
  EXPECT_EQ(document_->GetRecordIndex(), 1);
  EXPECT_EQ(TakeHints(), std::vector<int>{kHintRecordSet});
  // One from the front: the next one takes its place.
  document_->SetRecordIndex(0);
  Run(ID_RECORD_DELETE);
  EXPECT_EQ(Names(), std::vector<std::u16string>{u"Saw"});
  EXPECT_EQ(document_->GetRecordIndex(), 0);
  // Cancelled.
  Run(ID_RECORD_DELETE);
  EXPECT_EQ(document_->GetRecordCount(), 1);
  // The only record: the set is empty and there is no current record.
  tracked = {true};
  Run(ID_RECORD_DELETE);
  EXPECT_EQ(document_->GetRecordCount(), 0);
  EXPECT_EQ(document_->GetRecordIndex(), -1);
  Run(ID_RECORD_DUPLICATE);
  EXPECT_EQ(document_->GetRecordCount(), 0);
  EXPECT_TRUE(messages.empty());

  // The tracked deletions wait for the next synchronisation; the others
  // (and the records added here) leave no trace.
  const std::u16string path = document_->GetPathName();
  CloseDocument();
  const auto deleted = tbm::testing::RunProgram((BuildBinFolder() / "tbmdb").string(),
                                                {"deleted", Utf16ToUtf8(path), "--csv"}, {}, {});
  ASSERT_EQ(deleted.status, 0) << deleted.err;
  EXPECT_NE(deleted.out.find("Hammer"), std::string::npos) << deleted.out;
  EXPECT_NE(deleted.out.find("Saw"), std::string::npos) << deleted.out;
  EXPECT_EQ(deleted.out.find("ドライバー"), std::string::npos) << deleted.out;
}

TEST_F(DocumentCommandTest, ANewRecordGoesToTheViewWhereItCanBeEdited) {
  OpenPeople(kListViewKind);
  AllowEditing(kListViewKind, false);
  AllowEditing(kFormViewKind, true);
  TakeHints();
  Run(ID_RECORD_NEW);
  EXPECT_TRUE(TakeHints().empty()) << "the list is about to go";
  RunPostedEvents();
  ASSERT_EQ(frame_->view()->viewKind(), kFormViewKind);
  EXPECT_EQ(frame_->switches, 1);
  EXPECT_EQ(document_->GetRecordIndex(), 5);
  EXPECT_EQ(document_->GetRecordCount(), 6);

  // And back: a duplicate made in the form, where editing is now refused.
  AllowEditing(kFormViewKind, false);
  AllowEditing(kListViewKind, true);
  document_->SetRecordIndex(1);
  Run(ID_RECORD_DUPLICATE);
  RunPostedEvents();
  EXPECT_EQ(frame_->view()->viewKind(), kListViewKind);
  EXPECT_EQ(document_->GetRecordIndex(), 6);
  EXPECT_EQ(Records()[6], Records()[1]);

  // Editing allowed nowhere: the view stays and learns of the record.
  AllowEditing(kListViewKind, false);
  Run(ID_RECORD_NEW);
  RunPostedEvents();
  EXPECT_EQ(frame_->switches, 2);
  EXPECT_EQ(TakeHints(), std::vector<int>{kHintRecordAdded});
}

TEST_F(DocumentCommandTest, FindSortAndShowAllRebuildTheSet) {
  OpenPeople();
  EXPECT_FALSE(Enabled(ID_RECORD_SHOW_ALL));

  // The dialog opens on the last find and stores its answer.
  std::optional<FindRequest> found = FindRequest{2, u"42"};
  FindRequest shown;
  DocumentRequests requests{.find = [&](const FindRequest& last) {
    shown = last;
    return found;
  }};
  CTBMDoc::SetRequests(requests);
  Run(ID_RECORD_FIND);
  EXPECT_EQ(Names(), std::vector<std::u16string>{u"Ada Lovelace"});
  EXPECT_TRUE(document_->IsFiltered());
  EXPECT_TRUE(Enabled(ID_RECORD_SHOW_ALL));
  EXPECT_EQ(document_->GetRecordIndex(), 0);
  EXPECT_EQ(PaneText(ID_INDICATOR_RECORD), u"Record 1 of 1");
  EXPECT_EQ(TakeHints(), std::vector<int>{kHintRecordSet});

  // An empty text is stored but searches nothing; cancel changes nothing.
  found = FindRequest{4, u""};
  Run(ID_RECORD_FIND);
  EXPECT_EQ(shown.text, u"42");
  EXPECT_EQ(document_->GetLastFind().field, 4);
  EXPECT_EQ(document_->GetRecordCount(), 1);
  found.reset();
  Run(ID_RECORD_FIND);
  EXPECT_EQ(shown.field, 4);
  EXPECT_EQ(document_->GetLastFind().field, 4);
  EXPECT_TRUE(TakeHints().empty());

  // Words of any script, found from their start and case-blind.
  found = FindRequest{4, u"NIGHT"};
  Run(ID_RECORD_FIND);
  EXPECT_EQ(Names(), std::vector<std::u16string>{u"Zoë 👩‍💻 Smith"});
  found = FindRequest{0, u"فاطمة"};
  Run(ID_RECORD_FIND);
  EXPECT_EQ(Names(), std::vector<std::u16string>{u"فاطمة الزهراء"});

  Run(ID_RECORD_SHOW_ALL);
  EXPECT_FALSE(document_->IsFiltered());
  EXPECT_EQ(document_->GetRecordCount(), 5);
  EXPECT_EQ(document_->GetRecordIndex(), 0);

  // Sorting: by the dialog, and by the list header's toggle.
  Run(ID_RECORD_SORT);  // no dialog yet: nothing happens
  requests.sort = [] { return std::optional<SortRequest>(SortRequest{2, true}); };
  CTBMDoc::SetRequests(requests);
  TakeHints();
  Run(ID_RECORD_SORT);
  std::int16_t field = -1;
  bool ascending = true;
  document_->GetSortDef(&field, &ascending);
  EXPECT_EQ(field, 2);
  EXPECT_FALSE(ascending);
  EXPECT_EQ(Records()[0][2], u"1234");
  EXPECT_EQ(Records()[4][2], u"-3");
  EXPECT_EQ(TakeHints(), std::vector<int>{kHintRecordSet});
  document_->SortBy(2, 2);
  EXPECT_EQ(Records()[0][2], u"-3") << "the same column again turns the order round";
  document_->SortBy(2, 2);
  EXPECT_EQ(Records()[0][2], u"1234");
  document_->SortBy(1, 2);
  document_->GetSortDef(&field, &ascending);
  EXPECT_EQ(field, 1);
  EXPECT_TRUE(ascending) << "another column sorts ascending";
  EXPECT_EQ(Names().front(), u"Ada Lovelace");
  EXPECT_EQ(Names().back(), u"Zoë 👩‍💻 Smith");

  // A find keeps the sort's order only until the next sort; a sort keeps
  // the find.
  found = FindRequest{4, u"caf"};
  Run(ID_RECORD_FIND);
  EXPECT_EQ(Names(), std::vector<std::u16string>{u"Rene\u0301e Núñez"});
  document_->SortBy(0, 1);
  EXPECT_TRUE(document_->IsFiltered());
  EXPECT_EQ(document_->GetRecordCount(), 1);

  // A field the database does not have: the user hears why.
  document_->SortBy(9, 0);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, u"Error 9 with the database .");
  EXPECT_EQ(document_->GetRecordCount(), 1);
}

TEST_F(DocumentCommandTest, AFindTheEngineCannotFinishLeavesEveryRecordShown) {
  OpenPeople();
  CTBMDoc::SetRequests({.find = [](const FindRequest&) {
    return std::optional<FindRequest>({4, u"night"});
  }});
  // Another program holds the database's write lock past the engine's wait.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(HostPath(document_->GetPathName()).c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  TakeHints();
  Run(ID_RECORD_FIND);
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);

  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, u"Error 1 with the database .");
  // Not an empty screen with every command off: all records, as before.
  EXPECT_FALSE(document_->IsFiltered());
  EXPECT_EQ(document_->GetRecordCount(), 5);
  EXPECT_EQ(document_->GetRecordIndex(), 0);
  EXPECT_TRUE(Enabled(ID_RECORD_FIND));
  EXPECT_EQ(TakeHints(), std::vector<int>{kHintRecordSet});
  Run(ID_RECORD_FIND);
  EXPECT_EQ(Names(), std::vector<std::u16string>{u"Zoë 👩‍💻 Smith"});
}

TEST_F(DocumentCommandTest, AFullDatabaseTakesNoNewRecord) {
  ASSERT_NE(OpenDocument(MakeDatabase("Parts", Csv(5000))), nullptr);
  ShowInFrame(kListViewKind);
  document_->SetRecordIndex(4999);
  TakeHints();
  Run(ID_RECORD_NEW);
  Run(ID_RECORD_DUPLICATE);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].text, u"The database is full.");
  EXPECT_EQ(messages[1].text, u"The database is full.");
  EXPECT_EQ(document_->GetRecordCount(), 5000);
  EXPECT_EQ(document_->GetRecordIndex(), 4999);
  EXPECT_TRUE(TakeHints().empty());
  EXPECT_EQ(PaneText(ID_INDICATOR_RECORD), u"Record 5000 of 5000");
}

TEST_F(DocumentCommandTest, ViewOptionsApplyWhatTheSheetChanged) {
  OpenPeople(kFormViewKind);
  std::vector<OptionsPage> pages;
  std::optional<ViewOptionsChanges> changes;
  CTBMDoc::SetRequests({.viewOptions = [&](OptionsPage page, std::int16_t) {
    pages.push_back(page);
    return changes;
  }});
  Run(ID_VIEW_OPTIONS);  // cancelled
  EXPECT_TRUE(TakeHints().empty());

  changes = ViewOptionsChanges{.listFlags = 0x5, .formFlags = 0x1};
  Run(ID_VIEW_OPTIONS);
  EXPECT_EQ(document_->GetViewFlags(kListViewKind), 0x5u);
  EXPECT_EQ(document_->GetViewFlags(kFormViewKind), 0x1u);
  EXPECT_EQ(TakeHints(), std::vector<int>{kHintOptions});

  document_->MoveDisplayField(0, 4);
  std::vector<FieldDisplay> displays(5, FieldDisplay{60, 3, 0x00336699});
  displays[0] = FieldDisplay{10, 2, 0x000000FF};
  changes = ViewOptionsChanges{.resetDisplayOrder = true, .fieldDisplays = displays};
  frame_->ShowView(kListViewKind);
  Run(ID_VIEW_OPTIONS);
  EXPECT_EQ(pages,
            (std::vector<OptionsPage>{OptionsPage::kForm, OptionsPage::kForm, OptionsPage::kList}));
  EXPECT_EQ(TakeHints(), std::vector<int>{kHintOptionsResetOrder});
  EXPECT_EQ(document_->GetFieldAtDisplayPos(0), 0);
  EXPECT_EQ(document_->GetFieldDisplay(0).width, 10);
  EXPECT_EQ(document_->GetFieldDisplay(0).alignment, 2);
  EXPECT_EQ(document_->GetFieldDisplay(4).colour, 0x00336699u);

  // Without a record view (the document list) there is no sheet.
  frame_->SetActiveView(nullptr);
  document_->OnViewOptions();
  EXPECT_EQ(pages.size(), 3u);
}

}  // namespace
}  // namespace tbm::app::testing
