#include "DateTimeEntry.h"
#include "FieldEditor.h"
#include "TBMView.h"

namespace tbm::app {

namespace {

EntryCtrlSetup EntrySetup(const FieldEditSetup& setup,
                          const std::optional<std::vector<std::u16string>>& list) {
  EntryCtrlSetup entry;
  entry.cell = setup.cell;
  entry.parent = setup.view;
  entry.typing = true;
  entry.useValueList = setup.option.style == kStyleDropCombo;
  entry.document = setup.document;
  entry.font = setup.font;
  entry.text = setup.value;
  entry.valueList = list;
  return entry;
}

}  // namespace

CEntryFieldEditor::CEntryFieldEditor(CEntryCtrlBase* entry, bool passTaps) : passTaps_(passTaps) {
  SetControl(entry, entry);
}

CEntryFieldEditor::~CEntryFieldEditor() { Destroy(); }

CEntryCtrlBase* CEntryFieldEditor::entry() const { return static_cast<CEntryCtrlBase*>(control()); }

bool CEntryFieldEditor::Validate() { return entry() == nullptr || entry()->Validate(); }

bool CEntryFieldEditor::HoldsValidValue() {
  return entry() == nullptr || entry()->HoldsValidValue();
}

bool CEntryFieldEditor::IsModified() { return entry() != nullptr && entry()->IsModified(); }

std::optional<std::u16string> CEntryFieldEditor::GetValueText() {
  if (entry() == nullptr) return std::nullopt;
  return entry()->GetValueText().value_or(std::u16string());
}

void CEntryFieldEditor::TapAt(QPoint point) {
  if (passTaps_ && entry() != nullptr) entry()->TapAt(point);
}

CDateFieldEditor::CDateFieldEditor(const FieldEditSetup& setup,
                                   const std::optional<std::vector<std::u16string>>& list)
    : CEntryFieldEditor(CDateEntryCtrl::Create(EntrySetup(setup, list)),
                        setup.option.style == kStyleDropCombo) {}

CTimeFieldEditor::CTimeFieldEditor(const FieldEditSetup& setup,
                                   const std::optional<std::vector<std::u16string>>& list)
    : CEntryFieldEditor(CTimeEntryCtrl::Create(EntrySetup(setup, list)), true) {}

std::unique_ptr<CFieldEditor> CreateDateTimeFieldEditor(
    const FieldEditSetup& setup, const std::optional<std::vector<std::u16string>>& list) {
  if (setup.type == kFieldTypeDate) return std::make_unique<CDateFieldEditor>(setup, list);
  return std::make_unique<CTimeFieldEditor>(setup, list);
}

}  // namespace tbm::app
