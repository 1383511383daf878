// The plug-in's side of the conversation with a desktop synchronisation
// program: one command block in, one reply block out, against the host's
// services. Nothing here knows DDE; the DDE server (DdeServer.h) hands
// blocks in and fetches replies.
//
// A conversation runs from kStart (type 2), which lists the host databases
// that take part (their "TBCP" flags have bit 21), to kEnd (type 7). Each
// listed database carries two marks, merged and exported in this
// conversation; kExportNext (type 6) takes the first database with
// neither, so that the databases the handheld does not have yet reach it
// too. The exchange folder set by kExchangeFolder (type 8) stays until the
// session goes; until then the exchange files live in the temporary
// folder given at construction.
//
// Replies:
//   2  0 the list was made; 1 it could not be made
//   3  the database's index in the list, or -1
//   4  status in the lower 16 bits (DatabaseMerge.h), flags in the upper
//   5  1 (not supported)
//   6  0 written; 1 failed; 4 no database left
//   7  0; 1 when "TBSS.sdb" is there and cannot be deleted
//   8  0; 1 when the path does not convert to a file name (an empty
//      path means the temporary folder again)
//   9  kDdeProtocolVersion
// A block that is not a command (a reply, a bad block) gets no reply.
//
// Not thread-safe: the DDE server serialises the calls.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "AnsiText.h"
#include "DdeCommandBlock.h"
#include "HostCalls.h"
#include "HostExchangeText.h"

namespace tbm::bridge {

class BridgeSession {
 public:
  // REQUIRES: services and codePage outlive the session; temporaryFolder
  // exists or can be made.
  BridgeSession(const TBHostServices& services, sync::AnsiCodePage& codePage,
                std::string temporaryFolder);

  // Runs one command block and returns its reply block, or nothing when
  // the block is not a command this session answers.
  std::optional<sync::DdeBlock> Execute(std::span<const std::uint8_t> block);

  // Where the exchange and set-aside files are now (a host path).
  const std::string& exchangeFolder() const { return folder_; }

 private:
  struct ListedDatabase {
    TBDatabase db = nullptr;
    std::string name;  // host form
    bool merged = false;
    bool exported = false;
  };

  std::int32_t Start();
  std::int32_t WhichDatabase(const std::string& exchangeName) const;
  std::int32_t MergeAndExport(std::int32_t index);
  std::int32_t ExportNext();
  std::int32_t End();
  std::int32_t SetExchangeFolder(const std::string& ansiPath);

  // The listed database at index, when it is still open in the host.
  ListedDatabase* Listed(std::int32_t index);
  // Exports entry's database into the exchange folder; logs a failure.
  bool Export(ListedDatabase& entry);

  HostCalls host_;
  sync::AnsiCodePage& codePage_;
  HostTextForm form_;
  std::string temporaryFolder_;
  std::string folder_;
  std::vector<ListedDatabase> list_;
};

}  // namespace tbm::bridge
