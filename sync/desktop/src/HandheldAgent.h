// The device sync agent (TBMSYNBKCE) on the docked handheld, called over the
// remote API on the process's one connection. The agent lies in the folder
// of the handheld's provider library, which the handheld's registration of
// the object type names ("Store" of HKEY_LOCAL_MACHINE\Windows CE
// Services\synchronization\objects\Tabulon Mobile): that path cut after its
// last backslash, then "\TBMSYNBKCE.dll".
//
// REQUIRES of every call: the connection is open (CeRapiInit). A call that
// cannot reach the handheld or the agent fails with a sentence that says
// why (the remote API's words, or the handheld's error).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ByteStream.h"
#include "DatabaseList.h"
#include "DesktopConversation.h"
#include "RapiStream.h"
#include "Status.h"
#include "StreamBytes.h"

namespace tbm::desksync {

// The conversation of one SyncDatabase call, on the desktop's end of its
// stream. Releasing it (or its end) tells the agent the desktop is done.
class AgentConversation {
 public:
  explicit AgentConversation(IRAPIStream* stream);
  ~AgentConversation();
  AgentConversation(const AgentConversation&) = delete;
  AgentConversation& operator=(const AgentConversation&) = delete;

  // What the agent says, and what the desktop says to it.
  sync::ByteSource& fromAgent();
  sync::ByteSink& toAgent();

  // Sends the bytes of the local file at path in blocks of 1000 bytes.
  // *sent (when not null) gets the bytes sent.
  Status SendFile(const std::string& path, std::uint64_t* sent = nullptr);

  // Gives the stream back.
  void Release();

 private:
  RapiStreamPtr stream_;
  std::unique_ptr<sync::StreamSource> source_;
  std::unique_ptr<sync::StreamSink> sink_;
};

class HandheldAgent {
 public:
  // Finds the agent through the handheld's registration. kNotFound when
  // Tabulon Mobile's provider is not registered there.
  static Status Locate(std::unique_ptr<HandheldAgent>* agent);

  // The agent's handheld path.
  const std::u16string& path() const { return path_; }

  // StartSync. Succeeds when the agent answered 0 (the handheld program was
  // told) or 1 (it was not running); *answer gets which.
  Status StartSync(HRESULT* answer);
  // EndSync: the handheld's "synchronisation in progress" word back to 0.
  Status EndSync();

  // FindFiles: the handheld's databases. Fails when the list does not come
  // whole, or the handheld's database engine did not start.
  Status FindFiles(std::vector<sync::DatabaseListEntry>* databases);

  // Starts SyncDatabase in mode and hands over its conversation.
  Status OpenSyncDatabase(sync::SyncDatabaseMode mode,
                          std::unique_ptr<AgentConversation>* conversation);

 private:
  explicit HandheldAgent(std::u16string path) : path_(std::move(path)) {}
  Status Call(const char16_t* function, HRESULT* answer);
  Status Open(const char16_t* function, std::uint8_t* input, DWORD inputBytes,
              IRAPIStream** stream);

  std::u16string path_;
};

// Copies the handheld's "TBSC.sdb" (in its temporary folder) into
// localPath, made anew, and checks that as many bytes were written as the
// handheld's file holds; *bytes gets that size.
Status CopyHandheldChanges(const std::string& localPath, std::uint64_t* bytes);

// Checks the local copy of the handheld's changes whole: its layout, and
// every record its header announces, read as the merge reads them.
Status CheckHandheldChanges(const std::string& localPath);

}  // namespace tbm::desksync
