// The sync providers registered on the desktop, as the service finds them:
// one key per object type under HKEY_LOCAL_MACHINE\<kReplObjectTypesKey>,
// whose "Store" value is the program identifier of the provider's class,
// whose InprocServer32 key names the module (Com.h).
#pragma once

#include <string>
#include <vector>

#include "Com.h"
#include "Status.h"

namespace tbm::desktoplink {

struct RegisteredProvider {
  std::string objectType;   // the key's name, e.g. "Tabulon Mobile"
  std::string displayName;  // its "Display Name", or the object type
  std::string programId;    // "Store"; empty when missing
  std::string classId;      // "{...}"; empty when the program id names none
  std::string modulePath;   // InprocServer32; empty when the class names none
  // Why the service could not load it from this registration; empty when
  // the registration is whole (the module may still fail to load).
  std::string problem;
};

// Every registered object type, in the registry's order of their names. An
// empty list is no failure; a registry that cannot be read is.
Status ListRegisteredProviders(std::vector<RegisteredProvider>* providers);

// Loads the module at path and calls its DllRegisterServer (or, with
// unregister, DllUnregisterServer). *said gets what happened in a sentence;
// a failure says why in words.
Status RegisterModule(const std::string& path, bool unregister, std::string* said);

// An HRESULT in words, with its number after them: "the module ran out of
// memory (0x8007000E)".
std::string HresultText(HRESULT result);

}  // namespace tbm::desktoplink
