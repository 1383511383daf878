// What the merge and the export work with: the host's services, the text
// conversion between host and exchange form, and the machine's ANSI code
// page (which tells the exchange writer where characters end).
#pragma once

#include "AnsiText.h"
#include "HostCalls.h"
#include "HostExchangeText.h"

namespace tbm::bridge {

// The exchange files in the exchange folder: the handheld's changes and
// the desktop's copy.
inline constexpr char kHandheldChangesFile[] = "TBSC.sdb";
inline constexpr char kDesktopCopyFile[] = "TBSS.sdb";

struct SyncContext {
  const HostCalls& host;
  const HostTextForm& form;
  sync::AnsiCodePage& codePage;
};

}  // namespace tbm::bridge
