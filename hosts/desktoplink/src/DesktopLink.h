// The desktop connection service, tbm-desktoplink: what its parts share.
//
// The service ("run") loads the sync providers registered on the desktop,
// watches the paired handheld, and tells every provider's store when the
// handheld docks (status 3). It owns a top-level window in the desktop's
// window directory (WinUser.h) with the class kServiceWindowClass; "sync"
// finds that window and sends it kSyncNowMessage with its own process id
// as wParam. The service runs the synchronisation before it answers, with
// one of the SyncAnswer values, and leaves what happened, as lines to show
// the person, in the file SyncReportPath(that process id), which "sync"
// reads and removes.
#pragma once

#include <string>
#include <vector>

#include "Status.h"
#include "WinUser.h"

namespace tbm::desktoplink {

inline constexpr const char* kProgram = "tbm-desktoplink";

inline constexpr char16_t kServiceWindowClass[] = u"TBMDesktopLink";
inline constexpr UINT kSyncNowMessage = WM_APP + 0x117;

enum SyncAnswer : LRESULT {
  kSyncRan = 1,          // the stores were told; the report holds what they said
  kSyncBusy = 2,         // a synchronisation is running already
  kSyncNotDocked = 3,    // no handheld could be reached; the report says why
  kSyncNoProviders = 4,  // no provider is loaded; the report says why
};

// <desktop root>/log/tbm-desktoplink-sync-<processId>.txt
std::string SyncReportPath(long processId);

// Writes lines as the report for processId (replacing it whole).
Status WriteSyncReport(long processId, const std::vector<std::string>& lines);

// Reads and removes the report for processId.
Status TakeSyncReport(long processId, std::vector<std::string>* lines);

}  // namespace tbm::desktoplink
