// The provider's object handler: one per InitObjType call. The provider
// hands the service no objects, so the handler keeps the requests it is
// given and answers every transfer with nothing.
#pragma once

#include <atomic>

#include "DeviceProvider.h"

namespace tbm::sync {

class ObjectHandler final : public IReplObjHandler {
 public:
  // The count starts at 1, the reference of whoever made the handler.
  explicit ObjectHandler(DWORD partnerBit) : partnerBit_(partnerBit) {}

  HRESULT QueryInterface(REFIID iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT Setup(REPLSETUP* setup) override;
  HRESULT Reset(REPLSETUP* setup) override;
  HRESULT GetPacket(const char** packet, DWORD* packetBytes, DWORD recommendedBytes) override;
  HRESULT SetPacket(const char* packet, DWORD packetBytes) override;
  HRESULT DeleteObj(REPLSETUP* setup) override;

 private:
  ~ObjectHandler() override = default;

  std::atomic<ULONG> references_{1};
  const DWORD partnerBit_;  // the partnership the service made the handler for
  // The requests of the transfers under way, owned by the service.
  std::atomic<REPLSETUP*> readSetup_{nullptr};
  std::atomic<REPLSETUP*> writeSetup_{nullptr};
};

}  // namespace tbm::sync
