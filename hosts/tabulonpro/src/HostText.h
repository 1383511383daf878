// The byte form in which Tabulon Pro hands texts to its plug-in and takes
// them back: Mac OS Roman (ICU's "macintosh"), or, when the machine's ANSI
// code page ($TBM_ANSI_CODE_PAGE, see AnsiText.h) is 932, 936, 949 or 950,
// that code page; in both, a line break is one CR.
//
// The host keeps texts as Unicode with LF line breaks (DesktopDatabase.h).
// Towards the plug-in every LF, CR LF or lone CR becomes one CR; from the
// plug-in every CR, CR LF or lone LF becomes one LF. A character the byte
// form cannot write, or bytes that are not text in it, are refused, never
// replaced: the status says which character or bytes, and where.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "AnsiText.h"
#include "Status.h"

namespace tbm::tabulonpro {

class HostTextForm {
 public:
  // The form this machine uses. Fails with the words of AnsiText.h when
  // $TBM_ANSI_CODE_PAGE names a code page that cannot be used.
  static Status OpenSystem(std::unique_ptr<HostTextForm>* out);

  // The form's name for people: "Mac OS Roman" or "windows-932".
  const std::string& name() const { return name_; }

  // UTF-8 (LF, CR LF or CR line breaks) to the host form with CR.
  Status ToHost(std::string_view utf8, std::string* bytes);
  // The host form to UTF-8 with LF.
  Status FromHost(std::string_view bytes, std::string* utf8);

 private:
  HostTextForm(std::unique_ptr<sync::AnsiCodePage> page, std::string name);

  std::unique_ptr<sync::AnsiCodePage> page_;
  std::string name_;
  // Whether the form writes each ASCII character as its own byte, so that
  // an ASCII text needs only its line breaks changed.
  bool asciiAsIs_ = false;
};

}  // namespace tbm::tabulonpro
