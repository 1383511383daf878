// The messages the sync agent reads from the desktop (and the desktop from
// the agent), and the handheld program's calls as the RPC block brings them:
// every one arrives from another process.
//
//   byte 0   which reader: 0 the SyncDatabase input, 1 the database list
//            answer, 2 the database to synchronise, 3 changes ready, 4 the
//            desktop's decision, 5 the copy's name echo, 6 the unchanged
//            record count, 7 the creation outcome, 8 a reply to one of the
//            program's calls, 9 a call as the program receives it through
//            the block
//   byte 1   for 8 only: the call (modulo 3: name of the open database,
//            open database, close views) and, in the next place (divided
//            by 3, modulo 2), whether the window answered that it took it
//   then     the bytes the reader gets (for 8 and 9: the block's bytes, at
//            most 4096, the rest of the block 0)
//
// Beyond ending cleanly: what a message reader takes, its writer writes
// back byte for byte (or, for the name and the decision, as the writer
// spells it); a refused message leaves the output as it was. A reply
// reader gives back at most the slot's text; the program performs only a
// call whose identifier and kind are its own, with an argument that fits.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "DesktopConversation.h"
#include "FuzzScratch.h"
#include "HandheldCalls.h"
#include "LittleEndian.h"
#include "RpcBlockReply.h"
#include "SharedMemory.h"

namespace {

using namespace tbm;
using namespace tbm::sync;
using Bytes = std::vector<std::uint8_t>;

// The bytes a reader took from the front of data.
Bytes Taken(const std::uint8_t* data, std::size_t size, const MemoryByteSource& source) {
  return Bytes(data, data + (size - source.remaining()));
}

void Check(bool holds) {
  if (!holds) std::abort();
}

// Writes with write into memory and returns the bytes.
template <typename Write>
Bytes Written(Write write) {
  MemoryByteSink sink;
  Check(write(sink).ok());
  return sink.bytes();
}

void ReadMessage(std::uint8_t which, const std::uint8_t* data, std::size_t size) {
  MemoryByteSource source(data, size);
  switch (which) {
    case 0: {
      SyncDatabaseMode mode = SyncDatabaseMode::kSynchronise;
      if (ReadSyncDatabaseInput(std::span<const std::uint8_t>(data, size), &mode).ok()) {
        Check(size == kSyncDatabaseInputBytes);
        Check((mode == SyncDatabaseMode::kCreate) == (data[0] != 0));
      }
      break;
    }
    case 1: {
      DatabaseListAnswer answer{true, {{kDatabaseExisting, "before", u"before"}}};
      if (ReadDatabaseListAnswer(source, &answer).ok()) {
        Check(answer.databases.size() <= kDatabaseListEntries);
        Check(answer.engineStarted || answer.databases.empty());
        // A name or path that fills its whole slot is read, but written only
        // with room for its terminator.
        bool writable = true;
        for (const DatabaseListEntry& entry : answer.databases) {
          Check(entry.name.size() <= kDatabaseListNameBytes + 1 &&
                entry.path.size() <= kDatabaseListPathUnits + 1);
          writable = writable && entry.name.size() <= kDatabaseListNameBytes &&
                     entry.path.size() <= kDatabaseListPathUnits;
        }
        if (writable) {
          const Bytes again =
              Written([&](ByteSink& s) { return WriteDatabaseListAnswer(s, answer); });
          Check(again.size() == size - source.remaining());
        }
      } else {
        Check(answer.databases.size() == 1 && answer.databases[0].name == "before");
      }
      break;
    }
    case 2: {
      std::string name = "before";
      if (ReadDatabaseToSynchronise(source, &name).ok()) {
        Check(name.size() < kDatabaseToSynchroniseBytes && name.find('\0') == std::string::npos);
        Check(Written([&](ByteSink& s) { return WriteDatabaseToSynchronise(s, name); }).size() ==
              4 + name.size() + 1);
      } else {
        Check(name == "before");
      }
      break;
    }
    case 3:
      if (ReadChangesReady(source).ok()) {
        Check(Written([](ByteSink& s) { return WriteChangesReady(s); }) ==
              Taken(data, size, source));
      }
      break;
    case 4: {
      DesktopDecision decision = DesktopDecision::kKeepHandheldData;
      if (ReadDesktopDecision(source, &decision).ok()) {
        Check((decision == DesktopDecision::kTakeDesktopCopy) == (LoadU16(data) == 0));
      }
      break;
    }
    case 5: {
      std::string name = "before";
      if (ReadCopyNameEcho(source, &name).ok()) {
        Check(Written([&](ByteSink& s) { return WriteCopyNameEcho(s, name); }) ==
              Taken(data, size, source));
      } else {
        Check(name == "before");
      }
      break;
    }
    case 6: {
      std::int32_t count = -7;
      if (ReadUnchangedRecordCount(source, &count).ok()) {
        Check(Written([&](ByteSink& s) { return WriteUnchangedRecordCount(s, count); }) ==
              Taken(data, size, source));
      } else {
        Check(count == -7);
      }
      break;
    }
    case 7: {
      bool made = false;
      if (ReadCreationOutcome(source, &made).ok()) {
        Check(Written([&](ByteSink& s) { return WriteCreationOutcome(s, made); }) ==
              Taken(data, size, source));
      }
      break;
    }
    default:
      break;
  }
}

// The caller's reading of a reply the program left in the block.
void ReadReply(const std::uint8_t* data, std::size_t size) {
  const std::uint8_t call = size > 0 ? data[0] % 3 : 0;
  const LRESULT taken = size > 0 ? (data[0] / 3) % 2 : 1;
  std::uint8_t block[kRpcBlockBytes] = {};
  if (size > 1) std::memcpy(block, data + 1, std::min<std::size_t>(size - 1, kRpcBlockBytes));
  if (call == 0) {
    const RpcAnswer reply = ReadRpcAnswer(block, kRpcArgumentAndResult, taken);
    std::optional<std::u16string> name = u"before";
    if (ReadOpenDatabaseNameReply(reply, &name).ok()) {
      Check(!name || name->size() <= kOpenDatabaseNameUnits);
      Check(name.has_value() == (reply.result == 1));
    } else {
      Check(name == u"before");
    }
  } else {
    const RpcAnswer reply =
        ReadRpcAnswer(block, call == 1 ? kRpcArgumentAndResult : kRpcResult, taken);
    bool yes = false;
    const Status status =
        call == 1 ? ReadOpenDatabaseReply(reply, &yes) : ReadCloseViewsForSyncReply(reply, &yes);
    if (status.ok()) {
      Check(reply.handled == 1 && reply.size >= kRpcHeaderBytes && reply.size <= kRpcBlockBytes);
      Check(yes == (reply.result == 1));
    }
  }
}

// A program that records what it was asked.
struct Program final : HandheldCallHandler {
  bool OpenDatabase(const std::u16string& commandLine) override {
    Check(commandLine.size() <= kOpenDatabaseCommandLineUnits);
    ++performed;
    return commandLine.size() % 2 == 0;
  }
  std::optional<std::u16string> OpenDatabaseName() override {
    ++performed;
    return u"Sales";
  }
  bool CloseViewsForSync() override {
    ++performed;
    return true;
  }
  int performed = 0;
};

// A machine of this process's own, so that no other program's block is met.
void OwnMachine() {
  static const bool set = [] {
    ::setenv("TBM_DEVICE_ROOT", tbm::fuzz::ScratchFolder("tbm-sync-messages-fuzz-").c_str(), 1);
    return true;
  }();
  (void)set;
}

// The program's side, through the block as another process left it.
void ReceiveCall(const std::uint8_t* data, std::size_t size) {
  OwnMachine();
  // The section lives as long as the process (and goes with it).
  static RpcBlockView block(true);
  std::uint8_t* const view = block.view();
  if (view == nullptr) std::abort();
  std::memset(view, 0, kRpcBlockBytes);
  std::memcpy(view, data, std::min<std::size_t>(size, kRpcBlockBytes));
  const Bytes before(view, view + kRpcBlockBytes);
  Program program;
  const LRESULT taken = AnswerHandheldCall(program);
  const std::uint32_t id = LoadU32(view + 4);
  const std::uint32_t kind = LoadU32(view + 8);
  if (taken == 0) {
    Check(program.performed == 0);
    Check(Bytes(view, view + kRpcBlockBytes) == before);
    return;
  }
  Check(program.performed == 1);
  Check((id == kOpenDatabaseCall && kind == kRpcArgumentAndResult) ||
        (id == kOpenDatabaseNameCall && kind == kRpcArgumentAndResult) ||
        (id == kCloseViewsForSyncCall && kind == kRpcResult));
  Check(LoadU32(view + 12) <= 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t which = data[0] % 10;
  if (which == 8) {
    ReadReply(data + 1, size - 1);
  } else if (which == 9) {
    ReceiveCall(data + 1, size - 1);
  } else {
    ReadMessage(which, data + 1, size - 1);
  }
  return 0;
}
