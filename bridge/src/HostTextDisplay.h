// Host texts (names of databases, fields and value lists) as the dialogs
// show them: Mac OS Roman, or the machine's double-byte ANSI code page
// when the host speaks that (HostExchangeText.h), to Unicode.
#pragma once

#include <QString>
#include <memory>
#include <string_view>

#include "AnsiText.h"
#include "Status.h"

namespace tbm::bridge {

class HostTextDisplay {
 public:
  // REQUIRES: systemCodePage outlives the object. Fails only when ICU
  // lacks the Mac OS Roman converter.
  static Status Open(sync::AnsiCodePage& systemCodePage, std::unique_ptr<HostTextDisplay>* out);

  // The text in Unicode; bytes that do not convert are shown as U+FFFD.
  QString ToDisplay(std::string_view hostText) const;

  // Shows texts through codePage; owned, when given, is that code page.
  HostTextDisplay(sync::AnsiCodePage& codePage, std::unique_ptr<sync::AnsiCodePage> owned)
      : owned_(std::move(owned)), codePage_(codePage) {}

 private:
  std::unique_ptr<sync::AnsiCodePage> owned_;
  sync::AnsiCodePage& codePage_;
};

}  // namespace tbm::bridge
