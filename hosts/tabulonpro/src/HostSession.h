// The databases Tabulon Pro has open, in the order it opened them, and
// what the plug-in's services act on: the current (front) database and,
// for each database, the chosen record selection, the current record and
// an open edit.
//
// The services table (TBExtern.h) is served from here: Services() hands
// out one table whose calls act on the session that asked for it last.
// There is one session per process, used from the main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "DesktopDatabase.h"
#include "HostText.h"
#include "TBExtern.h"

namespace tbm::tabulonpro {

// The edition Tabulon Pro reports to its plug-ins.
inline constexpr std::uint16_t kHostEdition = TB_EDITION_ADVANCED;

class HostSession {
 public:
  explicit HostSession(std::unique_ptr<HostTextForm> textForm);
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Adds an open database at the end of the opening order; the first one
  // added becomes the current database.
  void Add(std::unique_ptr<DesktopDatabase> database);

  std::size_t count() const { return open_.size(); }
  DesktopDatabase* database(std::size_t index) const;
  // The database the user works in; null when none is open.
  DesktopDatabase* current() const { return current_; }
  // Makes database (one of this session's) the current one.
  void SetCurrent(DesktopDatabase* database);

  HostTextForm& textForm() { return *textForm_; }

  // Where the plug-in stands in one database.
  struct Cursor {
    std::vector<std::int64_t> chosen;    // the chosen selection's records
    std::optional<std::int64_t> record;  // the current record
    bool editing = false;
    FieldTexts edits;  // written since beginEdit, kept by commitEdit
  };
  // The cursor of an open database; null for anything else (a handle the
  // plug-in made up or kept after its database closed).
  Cursor* CursorOf(const void* handle);
  DesktopDatabase* DatabaseOf(const void* handle);

  // Saves the record changes the plug-in's calls gathered in each
  // database's batch and ends the snapshots they read from
  // (DesktopDatabase.h), so that other programs see the changes and the
  // plug-in's next calls see theirs. The host calls it whenever a call
  // into the plug-in, or a round of its messages, is over. A batch that
  // cannot be saved is undone and logged; the first such failure is
  // returned.
  Status EndPluginCalls();

  // The services table over this session, valid while the session lives.
  const TBHostServices* Services();

 private:
  struct Open {
    std::unique_ptr<DesktopDatabase> database;
    Cursor cursor;
  };
  std::unique_ptr<HostTextForm> textForm_;
  std::vector<std::unique_ptr<Open>> open_;
  DesktopDatabase* current_ = nullptr;
};

}  // namespace tbm::tabulonpro
