// The provider's texts: its language library "tbasres/TBDeskSyncRes<suffix>.so"
// beside the module, chosen by the desktop's language, and the numbers of
// the texts in it.
//
// The search tries, in order: "TBDeskSyncRes.so" (a library put there on
// purpose overrides every language); then the suffixes of the user's
// language, of its primary language with the default sub-language, and of
// US English (res::LanguageFallbacks). A library that reports a version
// whose major part is not 2 and whose minor part is not 1 (one match is
// enough) was made for another provider and is passed over like a missing
// one.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DeviceLanguage.h"
#include "MessageFormat.h"
#include "ResourceLibrary.h"
#include "Status.h"

namespace tbm::desksync {

// Text numbers of the language library.
enum Text : std::uint32_t {
  kTextOptionsTitle = 104,
  kTextOpenLogButton = 105,
  kTextResultTitle = 107,
  kTextResultOpenLog = 108,
  kTextFolderCompany = 1001,
  kTextFolderProduct = 1002,
  kTextFolderMobile = 1003,
  kTextLogFileName = 1004,
  kTextLogCannotOpen = 1005,  // %1s the log's path
  kTextLogCannotOpenTitle = 1006,
  kTextLogViewer = 1007,
  kTextFolderSynchronisation = 1008,
  kTextFolderHandhelds = 1009,
  kTextRunProblems = 1011,
  kTextDatabaseProblems = 1012,
  kTextOk = 1013,
  kTextCancel = 1014,
  kTextOptionsAbout = 1015,
  kTextLogIsAt = 1016,        // %1s the log's path
  kLogSetAside = 8001,        // %1s the set-aside file
  kLogBothSides = 8002,       //
  kLogSynchronised = 8003,    // %1s database
  kLogDatabaseFailed = 8004,  // %1s database, %2d status
  kLogNoTabulonPro = 8005,    //
  kLogSkipped = 8006,         // %1s database
  kLogTooLong = 8007,         // %1d records
  kLogChangedOrGone = 8008,   //
  kLogReason = 8009,          // %1s why
  kLogOtherVersion = 8010,    //
  kLogRefused = 8011,         // %1d code
  kLogFinished = 8012,        // %1d run problems, %2d database problems
  kLogFailed = 8013,          // the same
  kLogHandheldUnreachable = 8014,
  kLogFolderUnusable = 8015,  // %1s folder
  kLogNotWhole = 8016,        // %1s database
  kLogBrokeOff = 8017,        // %1s database
};

// Text 1: what the provider says when it finds no language library, in
// English since it has no other; why is the search's own sentence.
std::string NoLanguageLibraryText(const std::string& why);
inline constexpr char kNoLanguageLibraryTitle[] = "Tabulon Mobile";

class ProviderTexts {
 public:
  // The library files to try in moduleFolder for language, best first.
  static std::vector<std::string> Candidates(const std::string& moduleFolder, LANGID language);

  // Loads the first acceptable library of Candidates. kNotFound when there
  // is none (the message says which were tried and why each was passed
  // over).
  static Status Load(const std::string& moduleFolder, LANGID language,
                     std::unique_ptr<ProviderTexts>* texts);

  const std::string& path() const { return library_->path(); }
  // The language the library is for: from its suffix, or the language it
  // was searched for when it has none.
  LANGID language() const { return language_; }
  // The library's version, when it reports one.
  std::optional<res::LibraryVersion> version() const { return library_->Version(); }

  // Text number, or empty when the library lacks it.
  std::u16string String(std::uint32_t number) const;
  std::string Utf8(std::uint32_t number) const;
  // The text with its placeholders filled. A text whose placeholders do not
  // fit the arguments is given with the arguments after it, so that nothing
  // is lost (and the mismatch is logged).
  std::u16string Message(std::uint32_t number,
                         std::initializer_list<res::MessageArgument> arguments) const;

 private:
  ProviderTexts() = default;
  std::unique_ptr<res::ResourceLibrary> library_;
  LANGID language_ = res::kUsEnglish;
};

}  // namespace tbm::desksync
