// The calls the device connection service answers on a protected
// connection: one request frame in, one reply payload out (RapiFrame.h
// says how a reply starts). ServeRequest hands each group of calls (files,
// registry, database volumes, invocations) to the file that serves it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "RapiFrame.h"
#include "WinTypes.h"

namespace tbm::devicelink {

// Something a desktop opened on the handheld (a file, a search, a registry
// key, a database, a mounted volume) and names by a handle number. Closing
// the handle, or the connection ending, destroys it; the destructor lets go
// of what it holds on the handheld.
class OpenObject {
 public:
  virtual ~OpenObject() = default;
};

// What the service keeps for one desktop connection.
struct ConnectionState {
  std::string partnerId;
  bool greeted = false;             // CeRapiInit's greeting came first
  DWORD lastError = ERROR_SUCCESS;  // what CeGetLastError answers
  // What the desktop has open, by the handle numbers it was given. Numbers
  // start at 1 and are never reused on one connection, so a stale or made
  // up number finds nothing.
  std::map<std::uint32_t, std::unique_ptr<OpenObject>> open;
  std::uint32_t nextHandle = 1;

  // Keeps object and returns its new handle number.
  std::uint32_t Keep(std::unique_ptr<OpenObject> object) {
    const std::uint32_t handle = nextHandle++;
    open.emplace(handle, std::move(object));
    return handle;
  }
  // The open object of kind T behind handle, or null when the number is not
  // open or names something of another kind.
  template <typename T>
  T* Find(std::uint32_t handle) const {
    const auto found = open.find(handle);
    return found == open.end() ? nullptr : dynamic_cast<T*>(found->second.get());
  }
};

// The reply payload for request. Never fails: a request it cannot serve
// (malformed arguments, an unknown call, a call before the greeting, a call
// that failed on the handheld) gets a failure reply in words, and nothing
// on the handheld is changed by it.
std::vector<std::uint8_t> ServeRequest(const rapi::Frame& request, ConnectionState& state);

// A failure reply: result, then its sentence.
std::vector<std::uint8_t> FailureReply(HRESULT result, const std::string& words);

// The HRESULT of a handheld error (S_OK for ERROR_SUCCESS).
HRESULT FromWin32(DWORD error);

// The failure reply to a request whose arguments reader could not take
// apart. The handheld's last error is not changed.
std::vector<std::uint8_t> Malformed(const rapi::PayloadReader& reader, std::uint16_t call);

// A call that failed on the handheld with error: its error is kept for
// CeGetLastError and the reply says what failed and why.
std::vector<std::uint8_t> Failed(ConnectionState& state, DWORD error, const std::string& what);

// The failure reply to a call number the handheld does not serve.
std::vector<std::uint8_t> UnknownCall(std::uint16_t call);

// The groups of calls, each in its own file: files (calls 10-29,
// DeviceFiles.cpp) and the registry (calls 30-49, DeviceRegistry.cpp).
std::vector<std::uint8_t> ServeFileCall(const rapi::Frame& request, ConnectionState& state);
std::vector<std::uint8_t> ServeRegistryCall(const rapi::Frame& request, ConnectionState& state);

}  // namespace tbm::devicelink
