// Searches: a folder read once, filtered by a name pattern, handed out one
// entry per call.

#include "FindFile.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <vector>

#include "DevicePath.h"
#include "FileHandles.h"
#include "HostErrors.h"
#include "HostFileInfo.h"
#include "NamePattern.h"
#include "Utf16.h"

namespace tbm::fs {

namespace {

struct FoundEntry {
  std::u16string name;
  std::u16string foldedName;  // the sort key
  HostFileInfo info;
};

// One search between FindFirstFileW and FindClose.
struct Search {
  static constexpr HandleKind kKind = HandleKind::kSearch;

  std::mutex lock;  // guards next; entries never change after the search starts
  std::vector<FoundEntry> entries;
  std::size_t next = 0;
};

void Report(const FoundEntry& entry, WIN32_FIND_DATAW* findData) {
  *findData = WIN32_FIND_DATAW{};
  findData->dwFileAttributes = entry.info.attributes;
  findData->ftCreationTime = entry.info.creationTime;
  findData->ftLastAccessTime = entry.info.lastAccessTime;
  findData->ftLastWriteTime = entry.info.lastWriteTime;
  findData->nFileSizeHigh = static_cast<DWORD>(entry.info.size >> 32);
  findData->nFileSizeLow = static_cast<DWORD>(entry.info.size & 0xFFFFFFFF);
  CopyUtf16Cut(findData->cFileName, sizeof(findData->cFileName), entry.name);
}

// A handheld name pattern may hold any character a name may, and the two
// wildcards.
bool IsValidHandheldPattern(std::u16string_view pattern) {
  return std::none_of(pattern.begin(), pattern.end(), [](char16_t c) {
    return c < 0x20 || c == u':' || c == u'"' || c == u'<' || c == u'>' || c == u'|';
  });
}

// Reads the entries of folder that match pattern, in case-blind name order.
// Returns an errno from opening the folder, or 0.
int ReadMatchingEntries(const std::string& folder, std::u16string_view pattern,
                        std::vector<FoundEntry>* found) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return errno;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view hostName = entry->d_name;
    if (hostName == "." || hostName == "..") continue;
    std::u16string name = Utf8ToUtf16(hostName);
    if (!MatchesPattern(pattern, name)) continue;
    std::string entryPath = folder;
    if (entryPath.back() != '/') entryPath.push_back('/');
    entryPath.append(hostName);
    const auto info = ReadHostFileInfo(entryPath);
    if (!info) continue;  // gone meanwhile, or a link to nowhere
    std::u16string folded = FoldCase(name);
    found->push_back(FoundEntry{std::move(name), std::move(folded), *info});
  }
  std::sort(found->begin(), found->end(), [](const FoundEntry& a, const FoundEntry& b) {
    return a.foldedName != b.foldedName ? a.foldedName < b.foldedName : a.name < b.name;
  });
  return 0;
}

HANDLE FindFirst(const WCHAR* patternText, WIN32_FIND_DATAW* findData) {
  if (findData == nullptr) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  const std::u16string_view pattern = Utf16View(patternText);
  if (pattern.empty()) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);

  // The last component is the name pattern; what comes before it the folder.
  const bool hostPath = pattern.find(u'/') != std::u16string_view::npos;
  const char16_t separator = hostPath ? u'/' : u'\\';
  const std::size_t cut = pattern.find_last_of(separator);
  const std::u16string_view namePattern =
      cut == std::u16string_view::npos ? pattern : pattern.substr(cut + 1);
  std::u16string_view folderPart =
      cut == std::u16string_view::npos ? std::u16string_view{} : pattern.substr(0, cut);
  if (folderPart.empty()) folderPart = hostPath ? u"/" : u"\\";
  if (namePattern.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
  if (!hostPath && !IsValidHandheldPattern(namePattern)) {
    return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
  }

  const MappedPath folder = HostPathFromDevicePath(folderPart);
  if (!folder) return Fail(folder.error, INVALID_HANDLE_VALUE);
  auto search = std::make_shared<Search>();
  if (const int error = ReadMatchingEntries(folder.hostPath, namePattern, &search->entries)) {
    const DWORD code = error == ENOENT || error == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                           : ErrorFromErrno(error, folder.hostPath);
    return Fail(code, INVALID_HANDLE_VALUE);
  }
  if (search->entries.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
  Report(search->entries.front(), findData);
  search->next = 1;
  return FileHandles().Add(std::move(search));
}

BOOL FindNext(HANDLE find, WIN32_FIND_DATAW* findData) {
  const auto search = FileHandles().Lookup<Search>(find);
  if (!search) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (findData == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  std::lock_guard guard(search->lock);
  if (search->next >= search->entries.size()) return Fail(ERROR_NO_MORE_FILES, FALSE);
  Report(search->entries[search->next++], findData);
  return TRUE;
}

}  // namespace

}  // namespace tbm::fs

extern "C" HANDLE FindFirstFileW(const WCHAR* pattern, WIN32_FIND_DATAW* findData) {
  return tbm::Guarded(INVALID_HANDLE_VALUE, [&] { return tbm::fs::FindFirst(pattern, findData); });
}

extern "C" BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* findData) {
  return tbm::Guarded(FALSE, [&] { return tbm::fs::FindNext(find, findData); });
}

extern "C" BOOL FindClose(HANDLE find) {
  return tbm::Guarded(FALSE, [&] {
    if (!tbm::fs::FileHandles().Remove<tbm::fs::Search>(find)) {
      return tbm::Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    return TRUE;
  });
}
