// TBDevSync: the handheld's provider of the "Tabulon Mobile" synchronisation
// object type, as the device connection service sees it.
//
// The connection service loads the library named by the "Store" value of
// the object type's key,
//   HKEY_LOCAL_MACHINE\Windows CE Services\synchronization\objects\Tabulon Mobile
// and calls the four exports below.
// The provider replicates no objects itself: the exchange runs through the
// device sync agent (TBMSYNBKCE) beside it. What the provider does is done
// while it is loaded:
//
// - At load it reads "Store", loads the word-break library and the engine
//   from the folder "Store" names, opens the sync-active flag section and its
//   mutex (SyncActiveFlag.h) and resets the word to 0, because a word left at
//   1 can only come from a synchronisation that was interrupted. It keeps all
//   of them open, so the word the agent writes lasts between its calls even
//   when the handheld program is not running.
// - At unload it lets all of them go again.
//
// A failure at load time (no "Store", a library missing from the folder, no
// room for the section) is written to the provider's log (<device
// root>/log/TBDevSync.log) and leaves the provider loaded without the
// libraries and the section; the exports answer all the same.
//
// Every export may be called from any thread; none lets an exception out.
#pragma once

#include <cstdint>

#include "WinTypes.h"

// ---------------------------------------------------------------------------
// The COM-style basics the handler interface is built on. Interfaces are
// abstract classes whose virtual functions stand in their fixed slot order.

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
using REFIID = const GUID&;

class IUnknown {
 public:
  // Stores in *object a referenced pointer to the interface iid of this
  // object (the caller releases it), or null with a failure.
  virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
  // Takes a reference; returns the new count.
  virtual ULONG AddRef() = 0;
  // Gives up a reference; the last one frees the object. Returns the count
  // that is left.
  virtual ULONG Release() = 0;

 protected:
  // Objects go through Release, never delete.
  virtual ~IUnknown() = default;
};

// ---------------------------------------------------------------------------
// The connection service's records. The layouts are the service's own; the
// provider reads and writes only the fields said below.

// Object type names are kept in fixed arrays of this many UTF-16 units,
// terminator included.
constexpr DWORD kObjectTypeNameUnits = 100;

// The name of the one object type this provider serves.
inline constexpr char16_t kTabulonObjectType[] = u"Tabulon Mobile";

// GetPacket's answer when the packet it returns is the object's last one.
constexpr HRESULT RWRN_LAST_PACKET = 0x00140001;

// A read or write of one object, as the service asks the handler for it.
struct REPLSETUP {
  DWORD cbStruct;  // sizeof(REPLSETUP)
  BOOL fRead;      // TRUE: the service reads the object; FALSE: it writes it
  DWORD dwFlags;   // the service's flags for the transfer
  HRESULT hr;      // the outcome, set by the service
  DWORD oid;       // the object read or written
  DWORD oidNew;    // the object a write made, set by the handler
};

// What the service tells the provider about a changed object. The provider
// compares szObjType only when cbStruct says the record holds it.
struct OBJNOTIFY {
  DWORD cbStruct;                         // the bytes of the record the service filled
  WCHAR szObjType[kObjectTypeNameUnits];  // the object type, terminated
  DWORD uFlags;                           // what happened to the object
  DWORD uPartnerBit;                      // the partnership the notice is for (1 or 2)
  DWORD oidObject;                        // the object concerned
};

// What the service asks about an object type. The provider reads szObjType
// and writes cObjects and cbAllObj; nothing else.
struct OBJTYPEINFO {
  DWORD cbStruct;                         // sizeof(OBJTYPEINFO)
  WCHAR szObjType[kObjectTypeNameUnits];  // the object type asked about, terminated
  DWORD cObjects;                         // out: the number of objects of the type
  DWORD cbAllObj;                         // out: their bytes together
  FILETIME ftLastModified;                // when an object of the type last changed
};

// ---------------------------------------------------------------------------
// The object handler the service gets from InitObjType: it turns objects
// into packets and back. Reference counted; the count starts at 1, owned by
// the caller of InitObjType.
class IReplObjHandler : public IUnknown {
 public:
  // Keeps the read or write request the service is about to make. The
  // request must outlive the transfer. E_INVALIDARG for a null request.
  virtual HRESULT Setup(REPLSETUP* setup) = 0;
  // Ends the transfer the request began. E_INVALIDARG for a null request.
  virtual HRESULT Reset(REPLSETUP* setup) = 0;
  // Stores the next packet of the object being read in *packet and
  // *packetBytes, at most about recommendedBytes bytes; RWRN_LAST_PACKET when
  // it is the last. E_INVALIDARG for a null output.
  virtual HRESULT GetPacket(const char** packet, DWORD* packetBytes, DWORD recommendedBytes) = 0;
  // Takes the next packet of the object being written. E_INVALIDARG for a
  // null packet.
  virtual HRESULT SetPacket(const char* packet, DWORD packetBytes) = 0;
  // Deletes the object the request names. E_INVALIDARG for a null request.
  virtual HRESULT DeleteObj(REPLSETUP* setup) = 0;
};

// ---------------------------------------------------------------------------
// The exports, with the signatures the service looks them up by.

extern "C" {

// With a null objectType the service is shutting the provider down: returns
// TRUE. Otherwise sets *handler to null, and for the object type this
// provider serves ("Tabulon Mobile", compared without regard to case, as the
// registry's key names are) stores a new handler for the partnership
// partnerBit in it and returns TRUE; FALSE for another name, a null handler
// argument, or when memory is short.
BOOL InitObjType(const WCHAR* objectType, IReplObjHandler** handler, DWORD partnerBit);

// Tells the provider an object changed. The provider never claims an object:
// always FALSE.
BOOL ObjectNotify(OBJNOTIFY* notify);

// For this provider's object type reports no objects and no bytes. TRUE for
// any record, FALSE for a null one.
BOOL GetObjTypeInfo(OBJTYPEINFO* info);

// Tells the provider how the service is getting on. Always TRUE.
BOOL ReportStatus(const WCHAR* objectType, DWORD code, DWORD param);

}  // extern "C"

// The exports' types, for those who look them up by name.
using InitObjTypeFunction = BOOL (*)(const WCHAR*, IReplObjHandler**, DWORD);
using ObjectNotifyFunction = BOOL (*)(OBJNOTIFY*);
using GetObjTypeInfoFunction = BOOL (*)(OBJTYPEINFO*);
using ReportStatusFunction = BOOL (*)(const WCHAR*, DWORD, DWORD);
