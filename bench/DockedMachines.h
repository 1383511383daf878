// A handheld and a desktop for measuring docked synchronisations, made for
// the run in a folder of their own and set up as a person sets them up:
// the handheld's pieces installed (tbm-devicelink install), the desktop
// paired with it over loopback (tbm-devicelink pair, tbm-rapi pair), the
// desktop sync provider registered (tbm-desktoplink register), a desktop
// database made, offered and given its handheld fields (Tabulon Pro
// create, flags, handheld). Then every program runs as it does for a
// person: tbm-devicelink run, Tabulon Pro run with its plug-in and the
// database open, and tbm-desktoplink run, whose docking synchronises once
// and so makes the database on the handheld.
//
// The programs get their roots in their own environment; this process's
// environment is left alone, so that it can stand on other roots. Every
// failure throws BenchFailure with what went wrong; the programs started
// until then are stopped by process id when the object goes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tbm::testing {
class RunningProgram;
}

namespace tbm::bench {

class BenchFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using Environment = std::vector<std::pair<std::string, std::string>>;

// A database on the desktop: its name, its records as a CSV file with a
// typed header row ("Field 1:text,..."), and the fields the handheld gets
// ("Field 1,Field 2,...").
struct DesktopDatabaseSource {
  std::string name;
  std::filesystem::path csv;
  std::string handheldFields;
};

// Makes the database on the desktop of the machine root desktopRoot with
// Tabulon Pro's command line, offered to the handheld and synchronised.
void MakeDesktopDatabase(const std::filesystem::path& desktopRoot,
                         const DesktopDatabaseSource& source);

// What the provider's log says of one run, in milliseconds.
struct ProviderTimes {
  long long handheldExport = 0;
  long long copy = 0;
  long long desktopMergeAndExport = 0;
  long long copyBackAndImport = 0;
  long long wholeRun = 0;
};

class DockedMachines {
 public:
  // Sets both machines up under root (an empty folder) with the desktop
  // database of source, starts the programs and waits for the first
  // synchronisation, which makes the database on the handheld.
  DockedMachines(const std::filesystem::path& root, const DesktopDatabaseSource& source);
  ~DockedMachines();
  DockedMachines(const DockedMachines&) = delete;
  DockedMachines& operator=(const DockedMachines&) = delete;

  // The host path of the handheld's copy of the database.
  std::filesystem::path HandheldDatabase() const;

  // Asks the running service for a synchronisation ("tbm-desktoplink
  // sync") and waits for it. *times gets what the provider logged of it;
  // *commandMs the command's own wall time. Throws when the command fails
  // or the provider does not log the database as synchronised.
  void Synchronise(ProviderTimes* times, double* commandMs);

  // The handheld program running on the handheld (on a platform that needs
  // no screen, as on a display), showing the list of databases; throws
  // unless its window is published within 10 s.
  void StartHandheldProgram();
  // Has the running handheld program open the database, as a person
  // starting it on the file does: the second start hands it over and ends.
  void OpenInHandheldProgram();
  // How many times the handheld program has let its database go for a
  // synchronisation, as its log says.
  std::size_t ViewsClosedForSync() const;

 private:
  Environment Env() const;
  std::filesystem::path ProviderLog() const;
  std::string Program(const char* name) const;
  // Runs a command to its end; throws when it fails.
  std::string Command(const char* program, const std::vector<std::string>& args);
  // Starts a program with args and waits for its output to match pattern;
  // group 1 of the match.
  std::string Start(std::unique_ptr<testing::RunningProgram>* running, const char* program,
                    const std::vector<std::string>& args, const std::string& pattern);
  void Pair(std::string* port);
  // Reads the provider's log from offset on (all of it when it was begun
  // anew) until it holds a whole run's line; throws after limitSeconds.
  std::string WaitForRun(std::uintmax_t offset, int limitSeconds) const;

  std::filesystem::path device_;
  std::filesystem::path desktop_;
  std::string database_;
  std::unique_ptr<testing::RunningProgram> devicelink_;
  std::unique_ptr<testing::RunningProgram> tabulonPro_;
  std::unique_ptr<testing::RunningProgram> desktoplink_;
  std::unique_ptr<testing::RunningProgram> handheldProgram_;
};

}  // namespace tbm::bench
