#include "ObjectHandler.h"

namespace tbm::sync {

// The service asks for the handler's interfaces by identifier; the handler
// is all of them, so it hands out itself whatever is asked.
HRESULT ObjectHandler::QueryInterface(REFIID, void** object) {
  if (object == nullptr) return E_INVALIDARG;
  AddRef();
  *object = static_cast<IReplObjHandler*>(this);
  return S_OK;
}

ULONG ObjectHandler::AddRef() { return references_.fetch_add(1, std::memory_order_relaxed) + 1; }

ULONG ObjectHandler::Release() {
  const ULONG left = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

HRESULT ObjectHandler::Setup(REPLSETUP* setup) {
  if (setup == nullptr) return E_INVALIDARG;
  (setup->fRead ? readSetup_ : writeSetup_).store(setup, std::memory_order_relaxed);
  return S_OK;
}

HRESULT ObjectHandler::Reset(REPLSETUP* setup) { return setup != nullptr ? S_OK : E_INVALIDARG; }

// No object has any data: every read is over with its first, empty packet.
HRESULT ObjectHandler::GetPacket(const char** packet, DWORD* packetBytes, DWORD) {
  if (packet == nullptr || packetBytes == nullptr) return E_INVALIDARG;
  *packet = nullptr;
  *packetBytes = 0;
  return RWRN_LAST_PACKET;
}

HRESULT ObjectHandler::SetPacket(const char* packet, DWORD) {
  return packet != nullptr ? S_OK : E_INVALIDARG;
}

HRESULT ObjectHandler::DeleteObj(REPLSETUP* setup) {
  return setup != nullptr ? S_OK : E_INVALIDARG;
}

}  // namespace tbm::sync
