// What keeps TBDeskSync.so loaded: every object it handed out (class
// factories, stores, object handlers, message actions, a wait for a log
// viewer) and every server lock. DllCanUnloadNow answers from these counts;
// a module unloaded while one of them lives would leave the caller holding
// code that is gone.
#pragma once

#include <atomic>
#include <string>

#include "Com.h"

namespace tbm::desksync {

// Counts one more (or one less) live object of the module.
void ObjectMade();
void ObjectGone();
// IClassFactory::LockServer.
void LockModule(bool lock);
// True when no object and no lock is alive.
bool ModuleIsIdle();

// The folder the module was loaded from, as a host path.
std::string ModuleFolder();
// The module's own full host path.
std::string ModulePath();

// The reference count of one object, which also counts the object among
// the module's live objects for as long as it lives. A class holds one and
// deletes itself when Release returns 0.
class ObjectCount {
 public:
  ObjectCount() { ObjectMade(); }
  ~ObjectCount() { ObjectGone(); }
  ObjectCount(const ObjectCount&) = delete;
  ObjectCount& operator=(const ObjectCount&) = delete;

  ULONG Add() { return ++references_; }
  ULONG Drop() { return --references_; }

 private:
  std::atomic<ULONG> references_{1};
};

}  // namespace tbm::desksync
