#include "DeviceCalls.h"

#include <unistd.h>

#include "DeviceInvoke.h"
#include "DevicePath.h"
#include "DeviceStore.h"
#include "Registry.h"
#include "Utf16.h"

namespace tbm::devicelink {
namespace {

using rapi::PayloadReader;
using rapi::PayloadWriter;
using rapi::RapiCall;

using rapi::kProtocolVersion;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);

std::vector<std::uint8_t> GetTempPath(ConnectionState& state) {
  const MappedPath folder = DeviceTempFolder();
  if (!folder) return Failed(state, folder.error, "the temporary folder cannot be made");
  const std::optional<std::u16string> devicePath = DevicePathFromHostPath(folder.hostPath);
  if (!devicePath) {
    return Failed(state, ERROR_PATH_NOT_FOUND, "the temporary folder lies outside the handheld");
  }
  std::u16string path = *devicePath;
  if (path.empty() || path.back() != u'\\') path += u'\\';
  return PayloadWriter().I32(S_OK).String(path).Take();
}

// The handheld's name, as the greeting tells it to the desktop: the
// registry's HKEY_LOCAL_MACHINE\Ident "Name" when it is set, otherwise the
// host's name.
std::u16string DeviceName() {
  HKEY key = nullptr;
  WCHAR name[64] = {};
  DWORD bytes = sizeof name - sizeof(WCHAR);
  DWORD type = REG_NONE;
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Ident", 0, KEY_READ, &key);
  if (rc == ERROR_SUCCESS) {
    rc = RegQueryValueExW(key, u"Name", nullptr, &type, reinterpret_cast<BYTE*>(name), &bytes);
    RegCloseKey(key);
  }
  if (rc == ERROR_SUCCESS && type == REG_SZ && name[0] != u'\0') return name;
  char host[256] = {};
  return Utf8ToUtf16(::gethostname(host, sizeof host - 1) == 0 ? host : "handheld");
}

}  // namespace

std::vector<std::uint8_t> FailureReply(HRESULT result, const std::string& words) {
  return PayloadWriter().I32(result).String(Utf8ToUtf16(words)).Take();
}

HRESULT FromWin32(DWORD error) {
  return error == ERROR_SUCCESS ? S_OK : static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
}

std::vector<std::uint8_t> Malformed(const PayloadReader& reader, std::uint16_t call) {
  return FailureReply(E_INVALIDARG, "the arguments of " + rapi::CallName(call) +
                                        " are not well formed: " + reader.status().message());
}

std::vector<std::uint8_t> Failed(ConnectionState& state, DWORD error, const std::string& what) {
  state.lastError = error;
  return FailureReply(FromWin32(error), what + ": " + DescribeError(error));
}

std::vector<std::uint8_t> UnknownCall(std::uint16_t call) {
  return FailureReply(E_NOTIMPL, "the handheld does not know " + rapi::CallName(call));
}

std::vector<std::uint8_t> ServeRequest(const rapi::Frame& request, ConnectionState& state) {
  const std::uint16_t call = request.header.call;
  PayloadReader reader(request.payload);
  if (call == static_cast<std::uint16_t>(RapiCall::kInit)) {
    std::uint32_t version = 0;
    if (!reader.U32(&version) || !reader.End()) return Malformed(reader, call);
    if (version != kProtocolVersion) {
      return FailureReply(E_FAIL, "the desktop speaks version " + std::to_string(version) +
                                      " of the remote API and the handheld version " +
                                      std::to_string(kProtocolVersion));
    }
    state.greeted = true;
    return PayloadWriter()
        .I32(S_OK)
        .U32(kProtocolVersion)
        .String(DeviceName())
        .String(Utf8ToUtf16(state.partnerId))
        .Take();
  }
  if (!state.greeted) {
    return FailureReply(E_FAIL, rapi::CallName(call) + " came before CeRapiInit's greeting");
  }
  if (call >= 10 && call <= 29) return ServeFileCall(request, state);
  if (call >= 30 && call <= 49) return ServeRegistryCall(request, state);
  if (call >= 50 && call <= 79) return ServeStoreCall(call, reader, state);
  switch (static_cast<RapiCall>(call)) {
    case RapiCall::kGetTempPath:
      if (!reader.End()) return Malformed(reader, call);
      return GetTempPath(state);
    case RapiCall::kGetLastError:
      if (!reader.End()) return Malformed(reader, call);
      return PayloadWriter().I32(S_OK).U32(state.lastError).Take();
    case RapiCall::kPair:
      return FailureReply(E_FAIL,
                          "pairing is only possible while 'tbm-devicelink pair' runs on the "
                          "handheld");
    case RapiCall::kInvoke:
      return ServeInvoke(reader, state);
    case RapiCall::kStreamData:
    case RapiCall::kStreamEnd:
    case RapiCall::kStreamAlive:
      return FailureReply(E_FAIL, rapi::CallName(call) + " came while no stream was open");
    default:
      break;
  }
  return UnknownCall(call);
}

}  // namespace tbm::devicelink
