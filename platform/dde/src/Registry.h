// The process's live instances and the conversation handles given to
// programs. Any thread may look them up; each instance and its
// conversations are worked on by the instance's own thread only.
#pragma once

#include <memory>

#include "Conversation.h"
#include "Ddeml.h"

namespace tbm::dde {

class Instance;

// A new instance number, never 0 and never reused.
DWORD NewInstanceId();
void AddInstance(std::shared_ptr<Instance> instance);
std::shared_ptr<Instance> FindInstance(DWORD id);
void RemoveInstance(DWORD id);

// A handle for an open conversation of instance; looked up, it gives the
// conversation and its instance's number.
HCONV AddConversation(DWORD instance, std::shared_ptr<Conversation> conversation);
struct FoundConversation {
  DWORD instance = 0;
  std::shared_ptr<Conversation> conversation;
};
FoundConversation FindConversation(HCONV handle);
void RemoveConversation(HCONV handle);

}  // namespace tbm::dde
