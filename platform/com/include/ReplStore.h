// The interfaces between the desktop connection service and the sync
// providers it loads (one per object type): the store a provider offers
// (IReplStore) with its object handler (IReplObjHandler), and what the
// service offers the store (IReplNotify, and IReplMessages for telling the
// person something).
//
// The service loads a provider through its registration:
//   HKEY_LOCAL_MACHINE\<kReplObjectTypesKey>\<object type>
//     "Store": the program identifier whose class (Com.h) names the module. It makes one store,
//     calls
// Initialize, GetStoreInfo and GetFolderInfo for the type, then
// ReportStatus as the device docks and as a person asks for a
// synchronisation, and ReportStatus(RSC_RELEASE) and Release when it lets
// the store go. Every call to a store comes from one thread (a store that
// reports SCF_SINGLE_THREAD counts on it), one at a time.
//
// Texts are char strings in UTF-8, the desktop's ANSI code page.
#pragma once

#include <cstdint>

#include "Com.h"

struct HWND__;
using HWND = HWND__*;
using HICON = void*;

// Opaque handles a store makes: a folder, an item, or either (an object).
struct REPLOBJECT;
using HREPLOBJ = REPLOBJECT*;
using HREPLFLD = HREPLOBJ;
using HREPLITEM = HREPLOBJ;

constexpr std::size_t kReplMaxPath = 260;

// ReportStatus codes the service sends.
constexpr UINT RSC_INTERRUPT = 1;    // the service stops what it does
constexpr UINT RSC_BEGIN_SYNC = 2;   // a synchronisation begins
constexpr UINT RSC_END_SYNC = 3;     // the service checks for changes: a docking, or a person asked
constexpr UINT RSC_BEGIN_CHECK = 4;  //
constexpr UINT RSC_END_CHECK = 5;    //
constexpr UINT RSC_RELEASE = 6;      // the service lets the store go: drop IReplNotify
constexpr UINT RSC_REMOTE_SYNC = 7;  //
constexpr UINT RSC_BEGIN_BATCH_WRITE = 8;
constexpr UINT RSC_END_BATCH_WRITE = 9;

// STOREINFO.uFlags
constexpr UINT SCF_SINGLE_THREAD = 1;

struct STOREINFO {
  UINT cbStruct = sizeof(STOREINFO);
  UINT uFlags = 0;
  char szProgId[256] = {};
  char szStoreDesc[200] = {};
  UINT uTimerRes = 0;
  UINT cObjects = 0;
  UINT cbMaxStoreId = 0;               // set by the service: bytes lpbStoreId holds
  UINT cbStoreId = 0;                  // set by the store: bytes it needs or wrote
  std::uint8_t* lpbStoreId = nullptr;  // the service's buffer
};

// What the service shows of an object type.
struct OBJUIDATA {
  UINT cbStruct = sizeof(OBJUIDATA);
  HICON hIconLarge = nullptr;  // the store's icon resource number, cast
  HICON hIconSmall = nullptr;
  char szName[kReplMaxPath] = {};
  char szSyncText[kReplMaxPath] = {};
  char szTypeText[80] = {};
  char szPlTypeText[80] = {};
};

// One handheld, as QueryDevice reports it.
struct DEVINFO {
  DWORD pid = 0;                   // the partnership's identifier (its first 32 bits)
  char szName[kReplMaxPath] = {};  // the handheld's name
  char szType[80] = {};            // its kind
  char szPath[kReplMaxPath] = {};  // where its service was reached
};

// QueryDevice codes.
constexpr UINT QDC_SEL_DEVICE = 1;  // the selected (docked or last docked) handheld
constexpr UINT QDC_CON_DEVICE = 2;  // the connected handheld; fails when none is

struct REPLSETUP;  // what an object handler is set up for (not used by our stores)
struct CONFINFO;   // a conflict the service asks about
class IEnumReplItem;

// GetConflictInfo's answer: leave the conflict alone.
constexpr HRESULT RERR_IGNORE = static_cast<HRESULT>(0x80140005u);
// ActivateDialog's answer when the person cancelled.
constexpr HRESULT RERR_CANCEL = static_cast<HRESULT>(0x80140003u);
// GetPacket: this was the last packet.
constexpr HRESULT RWRN_LAST_PACKET = static_cast<HRESULT>(0x00140001u);

class IReplNotify : public IUnknown {
 public:
  // A line for the service's status display (and its log).
  virtual HRESULT SetStatusText(const char* text) = 0;
  // The window dialogs of the store should belong to; null without one.
  virtual HWND GetWindow(UINT flags) = 0;
  virtual HRESULT OnItemNotify(UINT code, const char* programId, const char* name, HREPLITEM item,
                               ULONG flags) = 0;
  // QDC_SEL_DEVICE or QDC_CON_DEVICE: *data is the address of the caller's
  // DEVINFO, which gets the device. E_INVALIDARG for another code or a null
  // data; E_FAIL when there is no such device.
  virtual HRESULT QueryDevice(UINT code, void** data) = 0;

 protected:
  ~IReplNotify() = default;
};
inline constexpr IID IID_IReplNotify = {
    0x5FB1F4C2, 0x8B1A, 0x4A6E, {0x9D, 0x1C, 0x2E, 0x47, 0x61, 0x0A, 0x3B, 0x52}};

// What the person presses in a message's button.
class IReplMessageAction : public IUnknown {
 public:
  virtual void Run() = 0;

 protected:
  ~IReplMessageAction() = default;
};

// Offered by the service's notify object (QueryInterface on IReplNotify):
// tells the person something outside the store's own dialogs. On a
// display the service shows a dialog with the caption, the text, an OK
// button and, when actionText is given, a button that runs action (the
// service keeps a reference until the dialog closes); without one it writes
// the caption and the text as a line in its log. Returns at once; the
// action runs later, on the service's thread.
class IReplMessages : public IUnknown {
 public:
  virtual HRESULT ShowMessage(const char* caption, const char* text, const char* actionText,
                              IReplMessageAction* action) = 0;

 protected:
  ~IReplMessages() = default;
};
inline constexpr IID IID_IReplMessages = {
    0x3C8D2E51, 0x6F04, 0x4B79, {0xA2, 0x5E, 0x81, 0x0C, 0xD9, 0x47, 0x16, 0xE3}};

class IReplObjHandler : public IUnknown {
 public:
  virtual HRESULT Setup(REPLSETUP* setup) = 0;
  virtual HRESULT Reset(REPLSETUP* setup) = 0;
  virtual HRESULT GetPacket(std::uint8_t** data, DWORD* bytes, DWORD recommendedBytes) = 0;
  virtual HRESULT SetPacket(std::uint8_t* data, DWORD bytes) = 0;
  virtual HRESULT DeleteObj(REPLSETUP* setup) = 0;

 protected:
  ~IReplObjHandler() = default;
};
inline constexpr IID IID_IReplObjHandler = {
    0x9A6B0E17, 0x2D53, 0x4C18, {0xB4, 0x0F, 0x6A, 0x21, 0xE8, 0x93, 0x5D, 0x7C}};

class IReplStore : public IUnknown {
 public:
  virtual HRESULT Initialize(IReplNotify* notify, UINT flags) = 0;
  virtual HRESULT GetStoreInfo(STOREINFO* info) = 0;
  virtual HRESULT ReportStatus(HREPLFLD folder, HREPLITEM item, UINT status, UINT parameter) = 0;
  virtual int CompareStoreIDs(std::uint8_t* id1, UINT bytes1, std::uint8_t* id2, UINT bytes2) = 0;
  virtual int CompareItem(HREPLITEM item1, HREPLITEM item2) = 0;
  virtual BOOL IsItemChanged(HREPLFLD folder, HREPLITEM item, HREPLITEM itemDst) = 0;
  virtual BOOL IsItemReplicated(HREPLFLD folder, HREPLITEM item) = 0;
  virtual void UpdateItem(HREPLFLD folder, HREPLITEM itemDst, HREPLITEM itemSrc) = 0;
  virtual HRESULT GetFolderInfo(const char* objectType, HREPLFLD* folder,
                                IUnknown** objectHandler) = 0;
  virtual HRESULT IsFolderChanged(HREPLFLD folder, BOOL* changed) = 0;
  virtual HRESULT FindFirstItem(HREPLFLD folder, HREPLITEM* item, BOOL* exist) = 0;
  virtual HRESULT FindNextItem(HREPLFLD folder, HREPLITEM* item, BOOL* exist) = 0;
  virtual HRESULT FindItemClose(HREPLFLD folder) = 0;
  // Writes the object's bytes into bytes (when not null) and returns their
  // number.
  virtual UINT ObjectToBytes(HREPLOBJ object, std::uint8_t* bytes) = 0;
  virtual HREPLOBJ BytesToObject(std::uint8_t* bytes, UINT size) = 0;
  virtual void FreeObject(HREPLOBJ object) = 0;
  virtual BOOL CopyObject(HREPLOBJ source, HREPLOBJ destination) = 0;
  virtual HRESULT IsValidObject(HREPLFLD folder, HREPLITEM item, UINT flags) = 0;
  virtual HRESULT ActivateDialog(UINT dialog, HWND parent, HREPLFLD folder,
                                 IEnumReplItem* items) = 0;
  virtual HRESULT GetObjTypeUIData(HREPLFLD folder, OBJUIDATA* data) = 0;
  virtual HRESULT GetConflictInfo(CONFINFO* conflict) = 0;
  virtual HRESULT RemoveDuplicates(const char* objectType, UINT flags) = 0;

 protected:
  ~IReplStore() = default;
};
inline constexpr IID IID_IReplStore = {
    0xC1A2E4D3, 0x57B0, 0x4E2A, {0x8F, 0x61, 0x0B, 0x3D, 0x9C, 0x25, 0x74, 0xA8}};

// The connection service's registration of object types.
inline constexpr char16_t kReplObjectTypesKey[] =
    u"Software\\Microsoft\\Windows CE Services\\Services\\Synchronization\\Objects";
