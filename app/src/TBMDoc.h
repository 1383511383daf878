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

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Document.h"
#include "MDb.h"

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
// function returns nothing), so find, sort, go-to and delete do nothing
// visible; tests fill it directly.
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
struct DocumentRequests {
  std::function<std::optional<FindRequest>(const FindRequest& last)> find;
  std::function<std::optional<SortRequest>()> sort;
  std::function<std::optional<std::int16_t>(std::uint16_t count)> goTo;  // record index
  std::function<std::optional<DeleteAnswer>(DeleteMode mode)> confirmDelete;
};

class CTBMDoc : public ui::CDocument {
 public:
  CTBMDoc();
  ~CTBMDoc() override;

  // The seam the dialogs fill. Each empty function answers "cancel".
  static void SetRequests(DocumentRequests requests);

  // Framework overrides.
  bool OnOpenDocument(const std::u16string& path) override;
  bool OnSaveDocument(const std::u16string& path) override;
  void OnCloseDocument() override;

  // Fields and records. Failures answer as noted; none throws.
  std::uint16_t GetFieldCount();   // 0 on failure
  std::uint16_t GetRecordCount();  // 0 on failure
  std::int16_t GetRecordIndex();   // -1: no current record
  void SetRecordIndex(std::int16_t index);
  std::uint8_t GetFieldType(std::int16_t field);      // 1 text, 2 number, 3 date, 4 time; 0
  std::uint32_t GetFieldMaxSize(std::int16_t field);  // in characters; 0
  std::u16string GetFieldName(std::int16_t field);    // empty on failure
  // Opens record r for reading (it need not be current); false on failure.
  bool OpenRecord(std::int16_t record);
  void CloseRecord();
  // The text of a field of the open record, valid until the record closes.
  bool GetFieldPtr(std::int16_t field, const char16_t** text, std::uint32_t* length);
  // The text of a field of record r; nothing on failure.
  std::optional<std::u16string> ReadField(std::int16_t record, std::int16_t field);
  // Writes value to a field of record r when it is shorter than the field's
  // maximum size; false on failure or when too long (nothing written).
  bool WriteField(std::int16_t record, std::int16_t field, const std::u16string& value);
  // Value list n as its lines (split at CR LF); nothing when missing.
  std::optional<std::vector<std::u16string>> GetValueList(std::uint8_t list);

  FieldOption GetFieldOption(std::int16_t field);  // style 0, list 255, flags 0 on failure
  void SetFieldOption(std::int16_t field, const FieldOption& option);
  FieldDisplay GetFieldDisplay(std::int16_t field);  // the defaults on failure
  void SetFieldDisplay(std::int16_t field, const FieldDisplay& display);

  bool IsFiltered();
  bool IsFilteredDirty();
  // The sorted field (-1: none) and direction.
  void GetSortDef(std::int16_t* field, bool* ascending);
  std::uint32_t GetViewFlags(std::uint16_t viewKind);  // 0 for other kinds or failure
  void SetViewFlags(std::uint16_t viewKind, std::uint32_t flags);

  // Display order: the field at display position p (p itself on failure),
  // moving a field from position a to b, and resetting to 0..49.
  std::uint16_t GetFieldAtDisplayPos(std::uint16_t position);
  void MoveDisplayField(std::uint16_t from, std::uint16_t to);
  void ResetDisplayOrder();
  std::uint16_t GetNextField(std::uint16_t field, std::uint16_t viewKind);

  FindRequest GetLastFind() const { return lastFind_; }
  void SetLastFind(const FindRequest& find) { lastFind_ = find; }

  bool GetDatabaseName(std::u16string* name);
  // Date and time texts in the database's formats.
  bool CheckAndNormaliseDate(std::u16string* text, std::uint8_t flags);
  bool CheckTime(const std::u16string& text);
  std::u16string DateRecToText(const MDbDateRec& date);
  std::u16string TimeRecToText(const MDbTimeRec& time);

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
  void OnViewOptions();

  // The status bar's texts.
  std::u16string RecordPositionText();

  MDbRecset* recordSet() { return &recordSet_; }

 private:
  // Ends the active record view's cell edit; false when it refused.
  bool LeaveCurrentRecord();
  void AfterAction(std::int32_t code, int hint, bool switchView);
  std::uint16_t PreferredViewKind();
  void ShowEngineMessage(std::int32_t code, const std::u16string& path);
  CTBMView* ActiveRecordView() const;

  MDbRecset recordSet_{};
  bool opened_ = false;
  FindRequest lastFind_;
  std::u16string findText_;  // the record set's find points at it
};

}  // namespace tbm::app
