// A separate process that writes records into a volume, flushing after each
// and reporting "flushed N" on standard output once the flush returned. The
// process tests kill it, or run two at once, and check the volume after.
//
//   tbm_store_writer <volume> <tag> <count>
//
// Each record: property 1 the tag, property 4 its number, property 5 a text
// made from both, so a reader can tell whether a record arrived whole.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "CeDb.h"
#include "Utf16.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: tbm_store_writer <volume> <tag> <count>\n");
    return 2;
  }
  const std::u16string path = tbm::Utf8ToUtf16(argv[1]);
  const std::u16string tag = tbm::Utf8ToUtf16(argv[2]);
  const long count = std::strtol(argv[3], nullptr, 10);
  CEGUID vol{};
  if (!CeMountDBVol(&vol, path.c_str(), OPEN_ALWAYS)) {
    std::fprintf(stderr, "mount: %s\n", StoreLastMessage());
    return 1;
  }
  CEOID db = 0;
  HANDLE h = CeOpenDatabaseEx(&vol, &db, u"DATA_0", 0, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "open: %s\n", StoreLastMessage());
    return 1;
  }
  for (long i = 0; i < count; ++i) {
    std::u16string text = tag + u" record " + tbm::Utf8ToUtf16(std::to_string(i));
    text.append(200, u'.');
    CEPROPVAL props[3]{};
    props[0].propid = PropId(1, CEVT_LPWSTR);
    props[0].val.lpwstr = const_cast<WCHAR*>(tag.c_str());
    props[1].propid = PropId(4, CEVT_UI4);
    props[1].val.ulVal = static_cast<ULONG>(i);
    props[2].propid = PropId(5, CEVT_LPWSTR);
    props[2].val.lpwstr = text.data();
    if (CeWriteRecordProps(h, 0, 3, props) == 0 || !CeFlushDBVol(&vol)) {
      std::fprintf(stderr, "write %ld: %s\n", i, StoreLastMessage());
      return 1;
    }
    std::printf("flushed %ld\n", i);
    std::fflush(stdout);
  }
  CeCloseHandle(h);
  return CeUnmountDBVol(&vol) ? 0 : 1;
}
