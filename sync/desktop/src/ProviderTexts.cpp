#include "ProviderTexts.h"

#include "ProgramLog.h"
#include "Utf16.h"

namespace tbm::desksync {
namespace {

constexpr char kLibraryFolder[] = "/tbasres/";
constexpr char kLibraryName[] = "TBDeskSyncRes";

// A library is for this provider when its major version is 2 or its minor
// version is 1.
bool VersionFits(const res::LibraryVersion& version) {
  return version.major == 2 || version.minor == 1;
}

std::string VersionText(const res::LibraryVersion& v) {
  return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build) +
         "." + std::to_string(v.revision);
}

}  // namespace

std::string NoLanguageLibraryText(const std::string& why) {
  return "Tabulon Mobile cannot synchronise: the language library of its desktop "
         "synchronisation cannot be loaded (" +
         why + "). Install Tabulon Mobile on the desktop again.";
}

std::vector<std::string> ProviderTexts::Candidates(const std::string& moduleFolder,
                                                   LANGID language) {
  const std::string stem = moduleFolder + kLibraryFolder + kLibraryName;
  std::vector<std::string> paths{stem + ".so"};
  for (const LANGID each : res::LanguageFallbacks(language)) {
    paths.push_back(stem + res::LanguageSuffix(each) + ".so");
  }
  return paths;
}

Status ProviderTexts::Load(const std::string& moduleFolder, LANGID language,
                           std::unique_ptr<ProviderTexts>* texts) {
  const std::vector<std::string> candidates = Candidates(moduleFolder, language);
  const std::vector<LANGID> languages = res::LanguageFallbacks(language);
  std::string passedOver;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    std::unique_ptr<res::ResourceLibrary> library;
    const Status loaded = res::ResourceLibrary::Load(candidates[i], &library);
    if (loaded.code() == StatusCode::kNotFound) continue;
    if (!loaded.ok()) {
      passedOver += " " + loaded.message() + ";";
      continue;
    }
    if (const std::optional<res::LibraryVersion> version = library->Version();
        version && !VersionFits(*version)) {
      passedOver += " " + candidates[i] + " is version " + VersionText(*version) +
                    ", made for another release;";
      continue;
    }
    auto found = std::unique_ptr<ProviderTexts>(new ProviderTexts());
    found->library_ = std::move(library);
    found->language_ = i == 0 ? language : languages[i - 1];
    *texts = std::move(found);
    return Status();
  }
  std::string message = "none of " + moduleFolder + kLibraryFolder + kLibraryName +
                        "*.so for language " + res::LanguageSuffix(language) + " can be used";
  if (!passedOver.empty()) {
    passedOver.pop_back();
    message += ":" + passedOver;
  }
  return Status(StatusCode::kNotFound, message);
}

std::u16string ProviderTexts::String(std::uint32_t number) const {
  return library_->StringOrEmpty(number);
}

std::string ProviderTexts::Utf8(std::uint32_t number) const { return Utf16ToUtf8(String(number)); }

std::u16string ProviderTexts::Message(std::uint32_t number,
                                      std::initializer_list<res::MessageArgument> arguments) const {
  const std::u16string text = String(number);
  std::u16string filled;
  const std::vector<res::MessageArgument> given(arguments);
  const Status s = res::FormatMessageText(text, given, &filled);
  if (s.ok()) return filled;
  WriteLog("TBDeskSync", LogLevel::kWarning,
           "text " + std::to_string(number) + " of " + path() +
               " does not take the arguments it is given: " + s.message());
  filled = text;
  for (const res::MessageArgument& argument : given) {
    filled += u" ";
    if (const auto* value = std::get_if<std::int64_t>(&argument.value)) {
      filled += Utf8ToUtf16(std::to_string(*value));
    } else {
      filled += std::get<std::u16string>(argument.value);
    }
  }
  return filled;
}

}  // namespace tbm::desksync
