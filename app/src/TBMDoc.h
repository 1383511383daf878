// CTBMDoc: the program's one open database. It opens and closes it through
// the engine's agent layer, owns the record set through which every record
// is seen, carries out the record commands (navigation, new, duplicate,
// delete, find, sort, show all, view options) as fixed sequences of engine
// calls, and is the views' and dialogs' only way to fields, options, value
// lists, attributes and display orders: views never call the engine.
//
// Every engine call passes the application's one environment (TBMApp.h)
// and the document's record set. A failed call is reported to the user by
// the document's messages (strings 5100 to 5105); a field read or write
// that fails answers as each operation below says.
//
// One thread: the user-interface thread.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Document.h"
#include "MDb.h"
#include "MDbBlocks.h"

namespace tbm::app {

class CTBMView;

// View kinds, which are also the notification codes of posted commands.
constexpr std::uint16_t kListViewKind = 3000;
constexpr std::uint16_t kFormViewKind = 3100;

// View-update hints.
constexpr int kHintOptions = 1;
constexpr int kHintNavigation = 2;
constexpr int kHintRecordSet = 4;
constexpr int kHintOptionsResetOrder = 9;
constexpr int kHintRecordAdded = 20;

// Display styles of the field option.
constexpr std::uint8_t kStyleEdit = 0;
constexpr std::uint8_t kStyleDropList = 1;
constexpr std::uint8_t kStyleDropCombo = 2;
constexpr std::uint8_t kStyleCheckBox = 3;
constexpr std::uint8_t kStyleZoom = 5;

// Field types the views and editors tell apart (1 text, 2 number).
constexpr std::uint8_t kFieldTypeDate = 3;
constexpr std::uint8_t kFieldTypeTime = 4;

constexpr std::uint16_t kFieldEntryLocked = 0x0001;
constexpr std::uint16_t kFieldCapitalise = 0x0002;

// The field option, unpacked.
struct FieldOption {
  std::uint8_t style = kStyleEdit;
  std::uint8_t valueList = 255;
  std::uint16_t flags = 0;
};

// A field's display settings, unpacked.
struct FieldDisplay {
  std::uint8_t width = 0;      // list column width; below 16 hides it
  std::uint8_t alignment = 0;  // 2 centred, 3 right, else left
  std::uint32_t colour = 0;    // 0x00BBGGRR
};

// What the dialogs will ask of the user, given to the document through one
// seam. Until the dialogs exist the program's seam answers "cancel" (each
// function is empty), so find, sort, go-to, delete and the view options do
// nothing visible; tests fill it directly.
struct FindRequest {
  std::uint16_t field = 0;
  std::u16string text;
};
struct SortRequest {
  std::int16_t field = 0;
  bool descending = false;
};
struct DeleteAnswer {
  bool trackForSync = true;  // the dialog's check box
};
enum class DeleteMode { kOneRecord = 1, kAllRecords = 2, kFoundSet = 3 };

// The page the view options sheet opens on.
enum class OptionsPage { kList, kForm, kField };
// What the view options sheet changed when it ended with OK; a member left
// empty was not changed.
struct ViewOptionsChanges {
  bool resetDisplayOrder = false;
  std::optional<std::uint32_t> listFlags{};  // attribute 2
  std::optional<std::uint32_t> formFlags{};  // attribute 3
  // Display settings of fields 0, 1, ... (the field page).
  std::optional<std::vector<FieldDisplay>> fieldDisplays{};
};

struct DocumentRequests {
  // The find dialog preset with the last find.
  std::function<std::optional<FindRequest>(const FindRequest& last)> find{};
  std::function<std::optional<SortRequest>()> sort{};
  std::function<std::optional<std::int16_t>(std::uint16_t count)> goTo{};  // record index
  std::function<std::optional<DeleteAnswer>(DeleteMode mode)> confirmDelete{};
  // The view options sheet on page (on field's settings for kField);
  // nothing when cancelled or nothing changed.
  std::function<std::optional<ViewOptionsChanges>(OptionsPage page, std::int16_t field)>
      viewOptions{};
};

class CTBMDoc : public ui::CDocument {
 public:
  // Registers the record commands and the status-bar panes' update
  // handlers; the record set stays invalid until a database is opened.
  CTBMDoc();
  // Closes a database still open (without the views' part of a close).
  ~CTBMDoc() override;
  CTBMDoc(const CTBMDoc&) = delete;
  CTBMDoc& operator=(const CTBMDoc&) = delete;

  // The seam the dialogs fill. Each empty function answers "cancel".
  static void SetRequests(DocumentRequests requests);

  // Framework overrides. Open refuses while a synchronisation runs
  // (message 5120) and shows the engine's message for a database it cannot
  // open (5100 to 5105); the file is not changed either way. Save only
  // clears the modified mark: every change has gone to the engine already.
  // Close ends the active record view's cell edit, closes the database and
  // then runs the framework's close (which may delete this document).
  bool OnOpenDocument(const std::u16string& path) override;
  bool OnSaveDocument(const std::u16string& path) override;
  void OnCloseDocument() override;
  bool IsOpen() const { return opened_; }

  // Fields and records. Failures answer as noted; none throws.
  std::uint16_t GetFieldCount();   // 0 on failure
  std::uint16_t GetRecordCount();  // 0 on failure
  std::int16_t GetRecordIndex();   // -1: no current record
  void SetRecordIndex(std::int16_t index);
  std::uint8_t GetFieldType(std::int16_t field);      // 1 text, 2 number, 3 date, 4 time; 0
  std::uint32_t GetFieldMaxSize(std::int16_t field);  // in characters with the terminator; 0
  std::u16string GetFieldName(std::int16_t field);    // empty on failure
  // Opens record r (it need not be current) and keeps it open for
  // GetFieldPtr until CloseRecord or the next OpenRecord; false on failure
  // or when r is not a record of the set. One record is open at a time.
  bool OpenRecord(std::int16_t record);
  void CloseRecord();
  // The text of a field of the open record and its length in UTF-16
  // units, valid until the record closes; false when none is open.
  bool GetFieldPtr(std::int16_t field, const char16_t** text, std::uint32_t* length);
  // The text of a field of record r; nothing on failure. When r is the
  // record kept open by OpenRecord it is read from there; another open
  // record is closed first (its field pointers end).
  std::optional<std::u16string> ReadField(std::int16_t record, std::int16_t field);
  // Writes value to a field of record r when it is shorter than the field's
  // maximum size; false on failure or when too long (nothing written). When
  // r is the record kept open it stays open, reopened so that its field
  // pointers show the new text (pointers taken before end); another open
  // record is closed first.
  bool WriteField(std::int16_t record, std::int16_t field, const std::u16string& value);
  // Value list n as its lines (split at CR LF); nothing when missing.
  std::optional<std::vector<std::u16string>> GetValueList(std::uint8_t list);
  // The items a pick list of value list n offers: its lines, each
  // normalised as a date in the database's format when asDates and it
  // reads as one. Empty when the list is missing.
  std::vector<std::u16string> GetValueListItems(std::uint8_t list, bool asDates);

  FieldOption GetFieldOption(std::int16_t field);  // style 0, list 255, flags 0 on failure
  void SetFieldOption(std::int16_t field, const FieldOption& option);
  FieldDisplay GetFieldDisplay(std::int16_t field);  // the defaults on failure
  // The display settings a field without settings of its own has.
  FieldDisplay DefaultFieldDisplay();
  // Written only when the field's current settings can be read.
  void SetFieldDisplay(std::int16_t field, const FieldDisplay& display);

  bool IsFiltered();
  bool IsFilteredDirty();
  // The sorted field (-1: none) and direction.
  void GetSortDef(std::int16_t* field, bool* ascending);
  std::uint32_t GetViewFlags(std::uint16_t viewKind);  // 0 for other kinds or failure
  void SetViewFlags(std::uint16_t viewKind, std::uint32_t flags);

  // Display order: the field at display position p (p itself on failure or
  // when the stored order is not a permutation of the fields), moving the
  // field at position a to position b (the ones between shift towards a),
  // and resetting to 0..49.
  std::uint16_t GetFieldAtDisplayPos(std::uint16_t position);
  void MoveDisplayField(std::uint16_t from, std::uint16_t to);
  void ResetDisplayOrder();
  // The field after field in the view kind's order, wrapping to the first:
  // field order in the form view, display order in the list view. With one
  // field or none, field itself.
  std::uint16_t GetNextField(std::uint16_t field, std::uint16_t viewKind);

  FindRequest GetLastFind() const { return lastFind_; }
  void SetLastFind(const FindRequest& find) { lastFind_ = find; }

  bool GetDatabaseName(std::u16string* name);
  // Date and time texts in the database's formats. CheckAndNormaliseDate
  // rewrites a valid date in the database's format (flags: non-zero reads
  // one- and two-digit years as 19xx) and leaves an invalid one as it is.
  bool CheckAndNormaliseDate(std::u16string* text, std::uint8_t flags);
  bool CheckTime(const std::u16string& text);
  std::u16string DateRecToText(const MDbDateRec& date);
  std::u16string TimeRecToText(const MDbTimeRec& time);
  // Today's date and the time now, as the database writes them: the
  // examples its messages about invalid dates and times give.
  std::u16string TodayText();
  std::u16string NowText();
  // Counts the changes of the record set that renumber its records (a
  // find, a sort, a deletion, a set rebuilt after a failure): a cell edit
  // begun under one count never writes under another.
  std::uint32_t recordSetGeneration() const { return setGeneration_; }
  // The engine's reading of text as a date (two-digit years in the current
  // century) or a time, with the database's format it was read with. True
  // when the text is a date (status valid, or valid in the current year) /
  // a time of kind plain, 12-hour or 24-hour; the record says what was read
  // also when it is not. With normalise the time is carried (1:75 is 2:15)
  // and put on the 24-hour clock; without, the numbers are as typed.
  // digits, when given, receives the digits typed for hours, minutes and
  // seconds. False with nothing written when no database is open.
  bool ParseDate(const std::u16string& text, MDbDateRec* date, MDbDateFormat* format);
  bool ParseTime(const std::u16string& text, bool normalise, MDbTimeRec* time,
                 MDbTimeFormat* format, std::array<std::u16string, 3>* digits = nullptr);

  // The record commands (also reachable as commands through OnCmdMsg).
  void OnRecordFirst();
  void OnRecordLast();
  void OnRecordNext();
  void OnRecordPrev();
  void OnRecordGoto();
  void OnRecordNew();
  void OnRecordDuplicate();
  void OnRecordDelete();
  void OnRecordDeleteAll();
  void OnRecordFind();
  void OnRecordShowAll();
  void OnRecordSort();
  // Sort without the dialog; order 0 ascending, 1 descending, 2 toggle.
  void SortBy(std::int16_t field, std::uint32_t order);
  // The view options sheet on the active view's page.
  void OnViewOptions();
  // The sheet on a given page (the list view's column command opens the
  // field page on its column's field); nothing without an active record
  // view.
  void ShowViewOptions(OptionsPage page, std::int16_t field);
  // What the sheet does with its changes when it ends with OK: reset the
  // display order (update hint 9, else 1), write the list and form flags
  // and the fields' display settings, and update every view.
  void ApplyViewOptions(const ViewOptionsChanges& changes);

  // The status bar's record position text.
  std::u16string RecordPositionText();

  MDbRecset* recordSet() { return &recordSet_; }

 private:
  void RegisterCommands();
  // Ends the active record view's cell edit; false when it refused.
  bool LeaveCurrentRecord();
  void AfterAction(std::int32_t code, int hint, bool switchView);
  // A failed record command that changed the set: puts a valid set back
  // (every record) when the engine left none, and shows the views the set
  // as it is now.
  void AfterFailedSetChange();
  std::uint16_t PreferredViewKind();
  void ShowEngineMessage(std::int32_t code, const std::u16string& path);
  CTBMView* ActiveRecordView() const;
  // Goes to record index (a navigation command's move).
  void MoveTo(std::int16_t index);
  // Rebuilds the set: every record, or the records find finds.
  std::int32_t Requery(const FindRequest* find);
  void Sort(std::int16_t field, std::uint32_t order);
  bool HasCurrentRecord();
  // Opens record r for one read or write, closing whatever else is open;
  // keeps a record already kept open by OpenRecord.
  bool OpenForAccess(std::int16_t record, bool* wasKept);
  bool ReadDisplayOrder(std::uint16_t orders[50]);
  bool ReadOptionEx(std::int16_t field, std::uint8_t ex[9]);

  MDbRecset recordSet_{};
  bool opened_ = false;
  std::int16_t openRecord_ = -1;  // the record kept open by OpenRecord
  FindRequest lastFind_;
  std::u16string findText_;  // the record set's find points at it
  std::uint32_t setGeneration_ = 0;
  // Shared with the view switches posted for this document, so a switch
  // that runs after the document went knows it.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace tbm::app
