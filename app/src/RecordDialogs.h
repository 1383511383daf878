// The program's dialogs: the shared base (CTBMDialog: the framework's
// dialog with the program's help topic) and the dialogs the record
// commands run: sort, go to record, the delete confirmation and the about
// box. Each is built from its layout in the language library, filled from
// the document, and reads its answer back on OK.
//
// One thread: the user-interface thread.
#pragma once

#include <cstdint>
#include <string>

#include "Dialog.h"
#include "TBMDoc.h"

class QComboBox;

namespace tbm::app {

class CTBMDialog : public ui::CDialog {
 public:
  // helpCode: the help topic F1 opens (MainFrame.h's codes).
  CTBMDialog(std::uint32_t templateId, int helpCode, QWidget* parent = nullptr);

 protected:
  void OnHelp() override;
  void changeEvent(QEvent* event) override;

 private:
  int helpCode_;
};

// Fills combo with the names of all fields in field order.
void FillFieldNames(QComboBox* combo, CTBMDoc* document);
// Fills combo with the comma-separated items of string number.
void FillFromStringList(QComboBox* combo, std::uint32_t number);

// Sort (template 2500): a field and an order, first field and ascending
// every time it opens.
class CSortDlg : public CTBMDialog {
 public:
  explicit CSortDlg(CTBMDoc* document, QWidget* parent = nullptr);
  std::int16_t field() const { return field_; }
  bool ascending() const { return ascending_; }

 protected:
  bool OnInitDialog() override;
  bool OnOK() override;

 private:
  CTBMDoc* document_;
  std::int16_t field_ = 0;
  bool ascending_ = true;
};

// Go to record (template 2600): the record's number, clamped to the
// records there are.
class CGoToRecordDlg : public CTBMDialog {
 public:
  explicit CGoToRecordDlg(CTBMDoc* document, QWidget* parent = nullptr);
  // The index chosen (0-based).
  std::int16_t record() const { return record_; }

 protected:
  bool OnInitDialog() override;
  bool OnOK() override;

 private:
  CTBMDoc* document_;
  std::int16_t record_;
};

// The delete confirmation (template 2700) for one record, all records or
// all records of the found set; its check box asks that the deletions be
// carried to Tabulon Pro at the next synchronisation.
class CDeleteConfirmDlg : public CTBMDialog {
 public:
  explicit CDeleteConfirmDlg(DeleteMode mode, QWidget* parent = nullptr);
  bool checked() const { return checked_; }

 protected:
  bool OnInitDialog() override;
  bool OnOK() override;

 private:
  DeleteMode mode_;
  bool checked_ = false;
};

// The about box (template 100): the program's version.
class CAboutDlg : public CTBMDialog {
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
  static QString VersionText();

 protected:
  bool OnInitDialog() override;
};

// What the document asks of the user, answered by the dialogs above and
// the find dialog, over the program's main window: the program installs
// it (CTBMDoc::SetRequests) when it runs with a display.
DocumentRequests DialogRequests();

// Runs the about box over the main window.
void ShowAboutBox();

}  // namespace tbm::app
