// How a command-line tool begins and ends a command: a first word that
// names no command said in words, and the outcome: a failure as one line on
// standard error (exit status 1), else standard output flushed (1 when it
// could not be written, 0 otherwise).
#pragma once

#include <optional>
#include <string>

#include "Status.h"

namespace tbm::tools {

// When the command line's first word names none of app's commands (a
// CLI::App), what to say, with the commands there are; CLI11 itself would
// only ask for "a subcommand". Nothing for an option or a known command.
template <typename App>
std::optional<std::string> UnknownCommand(const App& app, int argc, char** argv) {
  std::string commands;
  for (const auto* command : app.get_subcommands({})) {
    commands += (commands.empty() ? "" : ", ") + command->get_name();
  }
  if (argc < 2) return "no command given; the commands are " + commands;
  const std::string first = argv[1];
  if (first.empty() || first[0] == '-') return std::nullopt;
  for (const auto* command : app.get_subcommands({})) {
    if (command->get_name() == first) return std::nullopt;
  }
  return "'" + first + "' is not a command; the commands are " + commands;
}

int ReportOutcome(const char* program, const Status& status);

}  // namespace tbm::tools
