#include "ScnApi.h"
#include "TBMScan.h"

const char* DescribeScanResult(DWORD result) {
  switch (result) {
    case kScnSuccess:
      return "success";
    case kScnErrorFailed:
      return "the scanner could not do it (the scanner's log says why)";
    case kScnErrorBadHandle:
      return "no open scanner has this handle";
    case kScnErrorBadParameter:
      return "an argument was missing or malformed";
    case kScnErrorNoDevice:
      return "no such scanner is set up on this device";
    case kScnErrorDeviceBusy:
      return "the scanner is in use already";
    case kScnErrorNoMemory:
    case kTBMScanErrorNoBuffer:
      return "memory ran out for the label buffer";
    case kScnErrorNotEnabled:
      return "the scanner is not enabled";
    case kScnErrorReadPending:
      return "a read is pending already";
    case kScnErrorNoReadPending:
      return "no read is pending";
    case kScnErrorBufferInUse:
      return "a pending read still holds the label buffer";
    case kScnStatusLabelTooLong:
      return "the label was too long for the label buffer";
    case kScnStatusReadPending:
      return "the read is still pending";
    case kScnStatusReadTimedOut:
      return "no label was read in the time given";
    case kTBMScanErrorNoBufferStatus:
      return "there is no label buffer to ask";
    case kScnStatusReadCancelled:
      return "the read was cancelled";
    case kTBMScanErrorCancelOutstanding:
      return "a cancelled read has not ended yet";
    default:
      return "an unknown scanner error";
  }
}
