// Whole volume files as another program or a damaged card could leave
// them: mounting must refuse or accept them cleanly, and whatever mounts
// must be walkable and readable without a crash.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "CeDb.h"
#include "Utf16.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("tbm-fuzz-" + std::to_string(::getpid()) + ".tbm"))
          .string();
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const std::u16string wide = tbm::Utf8ToUtf16(path);
  CEGUID vol{};
  if (CeMountDBVol(&vol, wide.c_str(), OPEN_EXISTING)) {
    HANDLE find = CeFindFirstDatabaseEx(&vol, 0);
    for (CEOID db; (db = CeFindNextDatabaseEx(find, &vol)) != 0;) {
      CEOIDINFO info{};
      if (!CeOidGetInfoEx(&vol, db, &info)) continue;
      for (int order = -1; order < info.infDatabase.wNumSortOrder; ++order) {
        const CEPROPID sort = order < 0 ? 0 : info.infDatabase.rgSortSpecs[order].propid;
        CEOID oid = db;
        HANDLE h = CeOpenDatabaseEx(&vol, &oid, nullptr, sort, CEDB_AUTOINCREMENT, nullptr);
        if (h == INVALID_HANDLE_VALUE) continue;
        BYTE* buffer = nullptr;
        DWORD bytes = 0;
        for (int i = 0; i < 64; ++i) {
          WORD count = 0;
          if (CeReadRecordPropsEx(h, CEDB_ALLOWREALLOC, &count, nullptr, &buffer, &bytes,
                                  nullptr) == 0 &&
              GetLastError() == ERROR_NO_MORE_ITEMS) {
            break;
          }
        }
        std::free(buffer);
        CeCloseHandle(h);
      }
    }
    CeCloseHandle(find);
    CeUnmountDBVol(&vol);
  }
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  return 0;
}
