// The view options sheet: three pages of how the database is shown, all
// kept in the database itself so they travel with it. The list page sets
// the list view's flags (editing in the list, large font, a fixed first
// column, resizing, moving and sorting by the columns' titles), the form
// page the form view's (editing in the form, large font, the labels'
// alignment), and the field page each field's column width, alignment and
// colour, or puts every field and the column order back to the defaults.
//
// One thread: the user-interface thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "Dialog.h"
#include "TBMDoc.h"

namespace tbm::app {

constexpr int kMaxFieldSettings = 50;
// The colours of the field page's colour list, in its order (0x00BBGGRR).
constexpr std::array<std::uint32_t, 6> kFieldColours = {0x000000, 0x0000CC, 0x00FF00,
                                                        0xCC3300, 0xFF00FF, 0x999900};
// The widest column a width may set.
constexpr int kMaxColumnWidth = 224;

// The program's property sheet and page: the framework's, with the
// program's help topic on the sheet.
class CTBMPropertySheet : public ui::CPropertySheet {
 public:
  CTBMPropertySheet(int helpCode, QWidget* parent);

 protected:
  void OnHelp() override;
  void changeEvent(QEvent* event) override;

 private:
  int helpCode_;
};

class CTBMPropertyPage : public ui::CPropertyPage {
 public:
  using ui::CPropertyPage::CPropertyPage;
};

class CViewOptionsPage : public CTBMPropertyPage {
 public:
  using CTBMPropertyPage::CTBMPropertyPage;
  bool changed() const { return changed_; }

 protected:
  bool changed_ = false;
};

// A page that sets one view's flags (an attribute word of the database).
class CViewFlagsPage : public CViewOptionsPage {
 public:
  CViewFlagsPage(std::uint32_t templateId, CTBMDoc* document)
      : CViewOptionsPage(templateId), document_(document) {}
  std::uint32_t flags() const { return flags_; }

 protected:
  // The flags the page's controls make up now; changed when they differ
  // from those read.
  void Compose(std::uint32_t flags) {
    changed_ = flags != flags_;
    flags_ = flags;
  }

  CTBMDoc* document_;
  std::uint32_t flags_ = 0;
};

class CListOptionsPage : public CViewFlagsPage {
 public:
  explicit CListOptionsPage(CTBMDoc* document) : CViewFlagsPage(2100, document) {}
  void OnOK() override;

 protected:
  bool OnInitDialog() override;
};

class CFormOptionsPage : public CViewFlagsPage {
 public:
  explicit CFormOptionsPage(CTBMDoc* document) : CViewFlagsPage(2200, document) {}
  void OnOK() override;

 protected:
  bool OnInitDialog() override;
};

class CFieldOptionsPage : public CViewOptionsPage {
 public:
  CFieldOptionsPage(CTBMDoc* document, std::int16_t field);
  bool resetRequested() const { return reset_; }
  const FieldDisplay& setting(int field) const {
    return settings_[static_cast<std::size_t>(field)];
  }
  int currentField() const { return current_; }
  void OnOK() override;
  // The reset button's question and what follows a Yes.
  void OnReset();

 protected:
  bool OnInitDialog() override;

 private:
  void LoadControls();
  void SaveControls();

  CTBMDoc* document_;
  int current_;
  int fieldCount_ = 0;
  std::array<FieldDisplay, kMaxFieldSettings> settings_{};
  bool reset_ = false;
};

class CViewOptionsDlg : public CTBMPropertySheet {
 public:
  // Opens on page (the field page on field).
  CViewOptionsDlg(OptionsPage page, std::int16_t field, CTBMDoc* document,
                  QWidget* parent = nullptr);

  // After OK: what the pages changed (nothing when no page changed).
  std::optional<ViewOptionsChanges> Changes() const;

  CListOptionsPage& listPage() { return list_; }
  CFormOptionsPage& formPage() { return form_; }
  CFieldOptionsPage& fieldPage() { return field_; }

 private:
  CTBMDoc* document_;
  CListOptionsPage list_;
  CFormOptionsPage form_;
  CFieldOptionsPage field_;
};

}  // namespace tbm::app
