// Text between the handheld's UTF-16 and the ANSI code page of exchange
// files.
//
// Exchange files carry text in the machine's ANSI code page: windows-1252
// unless $TBM_ANSI_CODE_PAGE names another, either as a Windows code page
// number (932, 936, 949, 950, 1250, ...) or as an ICU converter name
// ("Shift_JIS", "windows-1251"). Only code pages that keep ASCII as single
// bytes and have no shift states qualify: the file's line breaks and
// terminating zeros must mean the same in every text.
//
// Conversion never substitutes: a character the code page cannot represent,
// or bytes that are not valid in it, fail the conversion with a message that
// gives the position, and the output is left empty.
//
// Line breaks. In the handheld's text a line break is CR LF; in an exchange
// file it is a single LF. Towards the file, CR LF becomes LF, and so does a
// CR on its own: a lone CR is a line break in the old desktop convention, and
// writing it as LF makes it one break on both sides rather than a stray
// control character on one. From the file, LF becomes CR LF; a CR LF already
// there, or a lone CR, also becomes a single CR LF, so a line break is never
// doubled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "Status.h"

struct UConverter;

namespace tbm::sync {

class AnsiCodePage {
 public:
  // The environment variable that names the machine's ANSI code page.
  static constexpr const char* kEnvironmentVariable = "TBM_ANSI_CODE_PAGE";
  // The code page when the variable is unset or empty.
  static constexpr const char* kDefaultName = "windows-1252";

  // Opens the machine's ANSI code page. Fails with kUnknownCodePage when the
  // variable names a code page that ICU does not know or that does not
  // qualify (the message names the variable and its value).
  static Status OpenSystem(std::unique_ptr<AnsiCodePage>* out);

  // Opens a code page by Windows number ("932") or ICU converter name.
  static Status Open(std::string_view name, std::unique_ptr<AnsiCodePage>* out);

  ~AnsiCodePage();
  AnsiCodePage(const AnsiCodePage&) = delete;
  AnsiCodePage& operator=(const AnsiCodePage&) = delete;

  // The code page's name for people ("windows-932" for 932 or Shift_JIS).
  const std::string& name() const { return name_; }
  // Its Windows number (1252, 932, ...), or 0 when Windows has none for it.
  std::uint32_t windowsNumber() const { return windowsNumber_; }

  // The calls below use one ICU converter and must not run at the same time
  // on one object; open one object per thread.

  // UTF-16 to ANSI bytes, unchanged otherwise (names, suffixes).
  Status ToAnsi(std::u16string_view text, std::string* bytes);
  // ANSI bytes to UTF-16, unchanged otherwise.
  Status ToUtf16(std::string_view bytes, std::u16string* text);

  // A field text or value list towards an exchange file: line breaks to LF,
  // then to ANSI bytes.
  Status ToExchangeText(std::u16string_view text, std::string* bytes);
  // A field text or value list from an exchange file: to UTF-16, then line
  // breaks to CR LF.
  Status FromExchangeText(std::string_view bytes, std::u16string* text);

  // The length of the longest start of `bytes` that is at most `maxBytes`
  // long and ends at a character boundary of this code page. Bytes that are
  // not valid in the code page count as one character each.
  std::size_t FittingLength(std::string_view bytes, std::size_t maxBytes);

 private:
  AnsiCodePage(UConverter* converter, std::string name, std::uint32_t windowsNumber);

  UConverter* converter_;
  std::string name_;
  std::uint32_t windowsNumber_;
};

}  // namespace tbm::sync
