// The tables of instances and conversation handles.
#include "Registry.h"

#include <mutex>
#include <unordered_map>

#include "Instance.h"

namespace tbm::dde {

namespace {

constexpr std::uintptr_t kConversationTag = std::uintptr_t{0x4348}
                                            << (sizeof(std::uintptr_t) * 8 - 16);

struct Tables {
  std::mutex mutex;
  std::unordered_map<DWORD, std::shared_ptr<Instance>> instances;
  std::unordered_map<std::uintptr_t, FoundConversation> conversations;
  DWORD nextInstance = 1;
  std::uintptr_t nextConversation = 1;
};

Tables& Get() {
  static auto* tables = new Tables();  // lives until the process ends
  return *tables;
}

}  // namespace

DWORD NewInstanceId() {
  Tables& tables = Get();
  std::lock_guard lock(tables.mutex);
  return tables.nextInstance++;
}

void AddInstance(std::shared_ptr<Instance> instance) {
  Tables& tables = Get();
  std::lock_guard lock(tables.mutex);
  const DWORD id = instance->id();
  tables.instances.emplace(id, std::move(instance));
}

std::shared_ptr<Instance> FindInstance(DWORD id) {
  Tables& tables = Get();
  std::lock_guard lock(tables.mutex);
  const auto at = tables.instances.find(id);
  return at == tables.instances.end() ? nullptr : at->second;
}

void RemoveInstance(DWORD id) {
  std::shared_ptr<Instance> removed;  // let go of after the lock
  Tables& tables = Get();
  std::lock_guard lock(tables.mutex);
  const auto at = tables.instances.find(id);
  if (at == tables.instances.end()) return;
  removed = std::move(at->second);
  tables.instances.erase(at);
}

HCONV AddConversation(DWORD instance, std::shared_ptr<Conversation> conversation) {
  Tables& tables = Get();
  std::lock_guard lock(tables.mutex);
  const std::uintptr_t number = kConversationTag | tables.nextConversation++;
  tables.conversations.emplace(number, FoundConversation{instance, std::move(conversation)});
  return reinterpret_cast<HCONV>(number);
}

FoundConversation FindConversation(HCONV handle) {
  Tables& tables = Get();
  std::lock_guard lock(tables.mutex);
  const auto at = tables.conversations.find(reinterpret_cast<std::uintptr_t>(handle));
  return at == tables.conversations.end() ? FoundConversation{} : at->second;
}

void RemoveConversation(HCONV handle) {
  FoundConversation removed;  // let go of after the lock
  Tables& tables = Get();
  std::lock_guard lock(tables.mutex);
  const auto at = tables.conversations.find(reinterpret_cast<std::uintptr_t>(handle));
  if (at == tables.conversations.end()) return;
  removed = std::move(at->second);
  tables.conversations.erase(at);
}

}  // namespace tbm::dde
