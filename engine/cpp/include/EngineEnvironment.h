// The engine started in an environment of its own, and the one database
// opened into it: the layer every C++ user of the engine builds on (the
// Database owner, the sync agent's store, tbmdb's creation), so that no
// caller pairs MDbInit with MDbShutdown, or an open with its close, by hand.
//
// Whatever is open when the object goes is closed (every table still open,
// then the volume), and the engine is stopped, in every case: a failed open
// leaves nothing mounted and no lock held once the object is gone.
//
// One thread at a time, as the engine's environments are. The object is
// neither copied nor moved: record sets and tables point into its
// environment.
#pragma once

#include <cstdint>

#include "MDb.h"

namespace tbm::engine {

class EngineEnvironment {
 public:
  // A fresh environment; the engine is not started yet.
  EngineEnvironment();
  ~EngineEnvironment();
  EngineEnvironment(const EngineEnvironment&) = delete;
  EngineEnvironment& operator=(const EngineEnvironment&) = delete;

  // Starts the engine in the environment (MDbInit), with the word-break
  // library when wordBreak is set (a find needs it). Returns the engine's
  // code. MDbErrWordBreak leaves the engine started without word breaks,
  // as MDbInit does; the destructor stops it all the same.
  // REQUIRES: not started yet.
  std::int32_t Start(bool wordBreak);

  // The engine is started (also after a MDbErrWordBreak).
  bool started() const { return env_.initialised != 0; }
  // A volume is open in the environment.
  bool opened() const { return env_.ref.opened != 0; }

  // The environment, for the engine's calls. Valid for the object's life.
  MDbEnv* env() { return &env_; }

  // Opens the database at path with all its tables, as the handheld
  // program does (MDbAgentOpenDb): a database marked inconsistent, or
  // without fields, is refused, and nothing stays open on a failure.
  std::int32_t OpenWithTables(const char16_t* path);

  // Mounts the volume at path and checks its header only (MDbOpen); the
  // caller opens the tables it needs. For work on a database the handheld
  // program would refuse, such as one marked inconsistent being rebuilt.
  // As with MDbOpen, a volume whose header is wrong (MDbErrBadFormat, or
  // an unreadable header) stays open until Close.
  std::int32_t OpenVolume(const char16_t* path);

  // Creates a new volume at path and opens it (MDbCreate); fails when a
  // file is there already, and leaves no file behind on a failure.
  std::int32_t CreateVolume(const char16_t* path);

  // Closes every table still open in the environment, then the volume.
  // Returns the first failure; MDbErrNone when nothing was open.
  std::int32_t Close();

 private:
  // Refuses, as the engine's calls do, a call made in the wrong state.
  bool ReadyToOpen() const { return started() && !opened(); }

  MDbEnv env_;
};

}  // namespace tbm::engine
