// tbpbridge: holds one DDE conversation with the synchronisation plug-in of
// the running Tabulon Pro, the way the desktop's synchronisation does, and
// says what each reply means. Commands run in the order given:
//
//   tbpbridge version
//   tbpbridge folder /tmp/exchange start "My Handheld" 1 which Contacts merge 0 end
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BridgeClient.h"
#include "Machine.h"

namespace {

using tbm::sync::DdeCommand;
using tbm::sync::DdeMessage;

constexpr const char* kUsage =
    "Usage: tbpbridge COMMAND [ARGUMENT...] [COMMAND [ARGUMENT...]]...\n"
    "Talks to the synchronisation plug-in of the running Tabulon Pro (on the desktop\n"
    "machine, $TBM_DESKTOP_ROOT) in one conversation, command after command:\n"
    "  version             the plug-in's protocol version\n"
    "  folder DIR          use DIR for TBSC.sdb, TBSS.sdb and set-aside files\n"
    "  start DEVICE ID     begin a synchronisation: gather the databases offered\n"
    "  which NAME          the index of the desktop database matching NAME\n"
    "  merge INDEX         merge DIR/TBSC.sdb into that database, then write TBSS.sdb\n"
    "  export-next         write TBSS.sdb for the next database not yet handled\n"
    "  end                 end the synchronisation (TBSS.sdb is deleted)\n"
    "Each reply is printed with its meaning. Exit status 0 when every command was\n"
    "answered, 1 when one was not.\n";

struct Step {
  const char* word;
  DdeMessage type;
  int arguments;  // strings after the word
};
constexpr Step kSteps[] = {
    {"version", DdeMessage::kProtocolVersion, 0},
    {"folder", DdeMessage::kExchangeFolder, 1},
    {"start", DdeMessage::kStart, 2},
    {"which", DdeMessage::kWhichDatabase, 1},
    {"merge", DdeMessage::kMergeAndExport, 1},
    {"export-next", DdeMessage::kExportNext, 0},
    {"end", DdeMessage::kEnd, 0},
};

std::string MergeMeaning(std::int32_t reply) {
  const int status = reply & 0xFFFF;
  const int flags = (reply >> 16) & 0xFFFF;
  std::string text = status == 0   ? "merged, and TBSS.sdb written"
                     : status == 1 ? "the database could not be opened, or TBSS.sdb not written"
                     : status == 5 ? "a record could not be merged; TBSS.sdb was not written"
                                   : "status " + std::to_string(status);
  if (flags & 1) text += "; the handheld's records were set aside in a .csv file";
  if (flags & 2) text += "; a record was changed on both sides";
  if (flags & 4) text += "; a handheld change met a desktop record that changed or is gone";
  return text;
}

std::string Meaning(DdeMessage type, std::int32_t reply) {
  switch (type) {
    case DdeMessage::kProtocolVersion:
      return "protocol version " + std::to_string(reply >> 16) + "." +
             std::to_string(reply & 0xFFFF);
    case DdeMessage::kStart:
      return reply == 0 ? "the databases were gathered" : "the databases could not be gathered";
    case DdeMessage::kWhichDatabase:
      return reply < 0 ? "no desktop database matches"
                       : "desktop database " + std::to_string(reply);
    case DdeMessage::kMergeAndExport:
      return MergeMeaning(reply);
    case DdeMessage::kExportNext:
      return reply == 0   ? "TBSS.sdb written"
             : reply == 4 ? "no database left"
                          : "the export failed";
    default:
      return reply == 0 ? "done" : "failed";
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  if (words.empty() || words[0] == "--help" || words[0] == "-h") {
    std::fputs(kUsage, words.empty() ? stderr : stdout);
    return words.empty() ? 2 : 0;
  }
  // Every command is checked before the conversation begins.
  std::vector<std::pair<DdeCommand, DdeMessage>> commands;
  for (std::size_t i = 0; i < words.size();) {
    const Step* step = nullptr;
    for (const Step& s : kSteps)
      if (words[i] == s.word) step = &s;
    if (step == nullptr) {
      std::fprintf(stderr, "tbpbridge: unknown command '%s' (try --help)\n", words[i].c_str());
      return 2;
    }
    if (i + static_cast<std::size_t>(step->arguments) >= words.size()) {
      std::fprintf(stderr, "tbpbridge: %s needs %d argument%s (try --help)\n", step->word,
                   step->arguments, step->arguments == 1 ? "" : "s");
      return 2;
    }
    DdeCommand command;
    if (step->type == DdeMessage::kMergeAndExport) {
      char* end = nullptr;
      const long index = std::strtol(words[i + 1].c_str(), &end, 10);
      if (*end != '\0' || end == words[i + 1].c_str() || index < 0 || index > 0x7FFFFFFF) {
        std::fprintf(stderr, "tbpbridge: merge needs a database index (0, 1, ...), not '%s'\n",
                     words[i + 1].c_str());
        return 2;
      }
      command = DdeCommand::WithNumber(step->type, static_cast<std::int32_t>(index));
    } else if (step->arguments == 2) {
      command = DdeCommand::WithStrings(step->type, words[i + 1], words[i + 2]);
    } else if (step->arguments == 1) {
      command = DdeCommand::WithString(step->type, words[i + 1]);
    } else {
      command = DdeCommand::WithoutArgument(step->type);
    }
    tbm::sync::DdeBlock block;
    if (tbm::Status s = tbm::sync::BuildDdeBlock(command, &block); !s.ok()) {
      std::fprintf(stderr, "tbpbridge: %s: %s\n", step->word, s.message().c_str());
      return 2;
    }
    commands.emplace_back(std::move(command), step->type);
    i += 1 + static_cast<std::size_t>(step->arguments);
  }

  tbm::SelectMachine(tbm::Machine::Desktop);
  std::unique_ptr<tbm::sync::BridgeClient> client;
  if (tbm::Status s = tbm::sync::BridgeClient::Connect(&client); !s.ok()) {
    std::fprintf(stderr, "tbpbridge: %s\n", s.message().c_str());
    return 1;
  }
  int result = 0;
  for (const auto& [command, type] : commands) {
    tbm::Status failure;
    const std::int32_t reply = client->Send(command, &failure);
    if (!failure.ok()) {
      std::fprintf(stderr, "tbpbridge: %s\n", failure.message().c_str());
      result = 1;
    }
    std::printf("%d: %s\n", reply, Meaning(type, reply).c_str());
  }
  return result;
}
