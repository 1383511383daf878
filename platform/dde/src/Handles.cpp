// The tables of string and data handles.
#include "Handles.h"

#include <map>
#include <mutex>
#include <unordered_map>

#include "ServiceSocket.h"
#include "WireFormat.h"

namespace tbm::dde {

namespace {

// Tags in the high bits keep the two kinds of handle, and other numbers a
// program might pass, apart.
constexpr std::uintptr_t kStringTag = std::uintptr_t{0x5348} << (sizeof(std::uintptr_t) * 8 - 16);
constexpr std::uintptr_t kDataTag = std::uintptr_t{0x4448} << (sizeof(std::uintptr_t) * 8 - 16);

struct Atom {
  std::string text;
  std::string folded;
  std::map<DWORD, std::size_t> references;  // by owner
};

struct Tables {
  std::mutex mutex;
  std::unordered_map<std::uintptr_t, Atom> atoms;
  std::unordered_map<std::string, std::uintptr_t> atomByFolded;
  std::unordered_map<std::uintptr_t, std::shared_ptr<DataBlock>> data;
  std::uintptr_t nextNumber = 1;
};

Tables& Get() {
  static auto* tables = new Tables();  // lives until the process ends
  return *tables;
}

std::uintptr_t Number(const void* handle) { return reinterpret_cast<std::uintptr_t>(handle); }

void DropIfUnused(Tables& tables, std::unordered_map<std::uintptr_t, Atom>::iterator at) {
  if (!at->second.references.empty()) return;
  tables.atomByFolded.erase(at->second.folded);
  tables.atoms.erase(at);
}

}  // namespace

HSZ AcquireString(DWORD owner, std::string_view text) {
  if (text.size() > kMaxNameBytes) return nullptr;
  Tables& tables = Get();
  std::string folded = FoldName(text);
  std::lock_guard lock(tables.mutex);
  std::uintptr_t number;
  if (const auto found = tables.atomByFolded.find(folded); found != tables.atomByFolded.end()) {
    number = found->second;
  } else {
    number = kStringTag | tables.nextNumber++;
    tables.atomByFolded.emplace(folded, number);
    tables.atoms.emplace(number, Atom{std::string(text), std::move(folded), {}});
  }
  ++tables.atoms[number].references[owner];
  return reinterpret_cast<HSZ>(number);
}

bool KeepString(DWORD owner, HSZ handle) {
  Tables& tables = Get();
  std::lock_guard lock(tables.mutex);
  const auto at = tables.atoms.find(Number(handle));
  if (at == tables.atoms.end()) return false;
  ++at->second.references[owner];
  return true;
}

bool ReleaseString(DWORD owner, HSZ handle) {
  Tables& tables = Get();
  std::lock_guard lock(tables.mutex);
  const auto at = tables.atoms.find(Number(handle));
  if (at == tables.atoms.end()) return false;
  const auto held = at->second.references.find(owner);
  if (held == at->second.references.end()) return false;
  if (--held->second == 0) at->second.references.erase(held);
  DropIfUnused(tables, at);
  return true;
}

void ReleaseStringsOf(DWORD owner) {
  Tables& tables = Get();
  std::lock_guard lock(tables.mutex);
  for (auto at = tables.atoms.begin(); at != tables.atoms.end();) {
    const auto next = std::next(at);
    if (at->second.references.erase(owner) > 0) DropIfUnused(tables, at);
    at = next;
  }
}

std::optional<std::string> StringText(HSZ handle) {
  Tables& tables = Get();
  std::lock_guard lock(tables.mutex);
  const auto at = tables.atoms.find(Number(handle));
  if (at == tables.atoms.end()) return std::nullopt;
  return at->second.text;
}

int CompareStrings(HSZ first, HSZ second) {
  if (first == second) return 0;
  Tables& tables = Get();
  std::lock_guard lock(tables.mutex);
  const auto a = tables.atoms.find(Number(first));
  const auto b = tables.atoms.find(Number(second));
  const bool haveA = a != tables.atoms.end();
  const bool haveB = b != tables.atoms.end();
  if (haveA != haveB) return haveA ? 1 : -1;
  if (!haveA) return Number(first) < Number(second) ? -1 : 1;  // neither is live: by value
  const int order = a->second.folded.compare(b->second.folded);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

HDDEDATA AddData(DWORD owner, std::vector<std::uint8_t> bytes, UINT format) {
  auto block = std::make_shared<DataBlock>();
  block->owner = owner;
  block->format = format;
  block->bytes = std::move(bytes);
  Tables& tables = Get();
  std::lock_guard lock(tables.mutex);
  const std::uintptr_t number = kDataTag | tables.nextNumber++;
  tables.data.emplace(number, std::move(block));
  return reinterpret_cast<HDDEDATA>(number);
}

std::shared_ptr<DataBlock> FindData(HDDEDATA handle) {
  Tables& tables = Get();
  std::lock_guard lock(tables.mutex);
  const auto at = tables.data.find(Number(handle));
  return at == tables.data.end() ? nullptr : at->second;
}

std::shared_ptr<DataBlock> TakeData(HDDEDATA handle) {
  Tables& tables = Get();
  std::lock_guard lock(tables.mutex);
  const auto at = tables.data.find(Number(handle));
  if (at == tables.data.end()) return nullptr;
  auto block = std::move(at->second);
  tables.data.erase(at);
  return block;
}

void FreeDataOf(DWORD owner) {
  std::vector<std::shared_ptr<DataBlock>> freed;  // destroyed after the lock is let go
  Tables& tables = Get();
  std::lock_guard lock(tables.mutex);
  std::erase_if(tables.data, [&](auto& entry) {
    if (entry.second->owner != owner) return false;
    freed.push_back(std::move(entry.second));
    return true;
  });
}

}  // namespace tbm::dde
