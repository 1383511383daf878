// The compiled word-break rules file (tbmwd.brk) as a damaged install may
// leave it. Each session reads the file afresh from the data folder, so
// every input is written there and a session is opened over it: reading
// must refuse the file or give an iterator that finds words in any text
// without a crash or a leak. The data folder is a scratch copy holding the
// installed Unicode properties beside the input.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "FuzzScratch.h"
#include "TBMWbrk.h"

namespace {

namespace stdfs = std::filesystem;

const stdfs::path& RulesPath() {
  static const stdfs::path path = [] {
    const stdfs::path& folder = tbm::fuzz::ScratchFolder("tbm-wordbreak-fuzz-");
    const stdfs::path installed =
        stdfs::canonical("/proc/self/exe").parent_path() / "tbmres" / "uprops.dat";
    std::error_code error;
    stdfs::copy_file(installed, folder / "uprops.dat", stdfs::copy_options::overwrite_existing,
                     error);
    if (error) std::abort();
    std::ofstream(folder / "tbmwd.brk").put('\0');
    ::setenv("TBM_WBR_DATA_DIR", folder.c_str(), 1);
    if (TBMWbrInit() != TBMWBR_SUCCESS) std::abort();
    return folder / "tbmwd.brk";
  }();
  return path;
}

// Texts of the kinds the rules treat apart: names with hyphens and
// apostrophes, digits, scripts written without spaces, marks, surrogates.
constexpr const char16_t* kTexts[] = {u"John O'Brien-Smith",
                                      u"12.5 kg, 3rd floor",
                                      u"東京都千代田区丸の内",
                                      u"สวัสดีครับ",
                                      u"e\u0301cole \U0001F600!",
                                      u"\xD800 lone",
                                      u""};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    std::ofstream out(RulesPath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  for (const char16_t* search : {u"sm", u"東京"}) {
    FWSession* session = nullptr;
    if (FWOpenSession(search, &session) != TBMWBR_SUCCESS) return 0;
    for (const char16_t* text : kTexts) FWFindWord(session, text);
    FWCloseSession(session);
  }
  return 0;
}
