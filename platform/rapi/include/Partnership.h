// Partnerships between a handheld and a desktop, and how one is made.
//
// Pairing. The device connection service ("tbm-devicelink pair") makes a
// one-time code of kPairingCodeDigits digits from the system's random
// source and shows it; the person types it on the desktop ("tbm-rapi
// pair"). The code is never sent. The desktop connects; the handheld sends,
// in clear, the greeting kPairingGreeting followed by kPairingSaltBytes
// fresh random bytes (the salt). Both sides derive a 32-byte key from the
// code and the salt with PBKDF2-HMAC-SHA256 (kPairingIterations rounds) and
// run the TLS 1.3 handshake of RapiChannel.h with that key under the
// identity kPairingIdentity. Inside that channel the desktop sends a
// RapiCall::kPair request with its name, and the handheld answers with a
// fresh partner identifier and a fresh random partnership key (kPskBytes).
// A wrong code fails the handshake, so the handheld learns nothing but
// that it was wrong; after kPairingTries wrong tries, or when
// kPairingSeconds have passed, or after one pairing, the code is spent.
//
// Why a short code is enough: the handshake mixes in a Diffie-Hellman
// exchange, so someone who records the pairing and later tries all codes
// offline still cannot read the partnership key that travelled inside it;
// someone who pretends to be either side must guess the code while it is
// good, with kPairingTries tries out of 10^8.
//
// Every later connection uses the partnership key with the partner
// identifier as its identity (RapiChannel.h).
//
// Registry keys (platform/registry):
//   handheld, HKEY_LOCAL_MACHINE\Software\Tabulon\Mobile\Partners\<partner id>
//     "Key"      REG_BINARY  the partnership key (32 bytes)
//     "Desktop"  REG_SZ      the desktop's name, as it gave it
//   desktop, HKEY_CURRENT_USER\Software\Tabulon\Pro\Handheld
//     "Partner"  REG_SZ      the partner identifier
//     "Key"      REG_BINARY  the partnership key (32 bytes)
//     "Address"  REG_SZ      where the handheld's service listens, HOST:PORT
// A desktop keeps one partnership (pairing again replaces it); a handheld
// keeps one per desktop. The registry files are the user's own; the keys in
// them are as secret as the files.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "RapiChannel.h"
#include "Status.h"

namespace tbm::rapi {

inline constexpr int kPairingCodeDigits = 8;
inline constexpr int kPairingTries = 3;
inline constexpr int kPairingSeconds = 300;
inline constexpr int kPairingIterations = 100000;
inline constexpr std::size_t kPairingSaltBytes = 16;
inline constexpr char kPairingGreeting[8] = {'T', 'B', 'P', 'A', 'I', 'R', '0', '1'};
inline constexpr std::size_t kPairingGreetingBytes = sizeof kPairingGreeting + kPairingSaltBytes;
inline constexpr const char* kPairingIdentity = "tbm-pairing";

// A fresh code of kPairingCodeDigits decimal digits, evenly drawn from the
// system's random source. Fails only when the random source does.
Status MakePairingCode(std::string* code);

// Fills bytes from the system's random source.
Status RandomBytes(std::span<std::uint8_t> bytes);

// The key both sides derive from the code and the salt. Fails with
// kInvalidArgument when code is not kPairingCodeDigits digits.
Status DerivePairingKey(const std::string& code, std::span<const std::uint8_t> salt,
                        std::vector<std::uint8_t>* key);

// A new partner identifier: 16 lower-case hex digits.
Status MakePartnerId(std::string* partnerId);

// One partnership as the handheld keeps it.
struct DevicePartner {
  std::string partnerId;
  std::u16string desktopName;
  std::vector<std::uint8_t> key;
};

// The handheld's registry (whichever machine this process stands on).
Status SaveDevicePartner(const DevicePartner& partner);
// Every partnership, in the order of their identifiers.
Status ListDevicePartners(std::vector<DevicePartner>* partners);
// kNotFound when there is none under partnerId.
Status LoadDevicePartner(const std::string& partnerId, DevicePartner* partner);
Status ForgetDevicePartner(const std::string& partnerId);

// The partnership as the desktop keeps it.
struct DesktopPartnership {
  std::string partnerId;
  std::vector<std::uint8_t> key;
  Endpoint address;
};

// The desktop's registry. Loading fails with kNotFound (saying how to pair)
// when the desktop has no partnership.
Status SaveDesktopPartnership(const DesktopPartnership& partnership);
Status LoadDesktopPartnership(DesktopPartnership* partnership);

}  // namespace tbm::rapi
