// The provider's options dialog (dialog 104), which the connection service
// opens through ActivateDialog(0): the provider's version ("v" and the four
// parts of its language library's version, control 106), a button that
// opens the synchronisation log (105), OK and Cancel.
#pragma once

#include <QDialog>
#include <optional>

#include "LogViewer.h"
#include "ProviderTexts.h"
#include "ReplStore.h"

namespace tbm::desksync {

class OptionsDialog : public QDialog {
 public:
  // viewer: the log of the selected handheld, or nothing when no handheld
  // is known (the button is then disabled). messages (may be null) tells
  // the person when the log cannot be shown.
  OptionsDialog(const ProviderTexts& texts, std::optional<LogViewer> viewer,
                IReplMessages* messages, QWidget* parent = nullptr);
  ~OptionsDialog() override;

 private:
  std::optional<LogViewer> viewer_;
  IReplMessages* messages_;
};

// "v2.1.0.1" for the library's version; "v" alone when it reports none.
QString VersionLabel(const ProviderTexts& texts);

// Shows the dialog modally. S_OK after OK, RERR_CANCEL after Cancel (or
// closing it), E_FAIL when the process has no display to show it on.
HRESULT ShowOptionsDialog(const ProviderTexts& texts, std::optional<LogViewer> viewer,
                          IReplMessages* messages);

}  // namespace tbm::desksync
