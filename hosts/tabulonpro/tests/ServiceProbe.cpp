// A plug-in for the tests of Tabulon Pro. On the start call it walks every
// open database through the host services, reading everything and making
// a few changes in the first one, and writes what it met, one line per
// fact, to the file $TB_PROBE_REPORT. The about, settings and stop calls
// add a line each; the settings call also writes "QZP1" into the current
// database, as the settings dialog does. $TB_PROBE_RESULT, when set, is
// the start result it answers instead of 13. With $TB_PROBE_WINDOW set it
// also makes a window, as a DDE server does, whose messages it answers
// through the services: WM_APP with the first database's record count (and
// whether it runs on the thread that started it), WM_APP + 1 by asking the
// host's message loop to end. With $TB_PROBE_DDE set it serves the DDE
// service "TBPROBE", whose requests it answers with the same number as
// WM_APP, as text.
#include <pthread.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Ddeml.h"
#include "TBExtern.h"
#include "WinUser.h"

namespace {

using namespace tbm;

const TBHostServices* host = nullptr;
std::FILE* report = nullptr;
pthread_t startThread;
HWND window = nullptr;
DWORD ddeInstance = 0;

// The first database's record count, and 1000 more when asked on the thread
// that started the plug-in (the host's main thread).
std::int32_t CountAndThread() {
  const bool sameThread = pthread_equal(pthread_self(), startThread) != 0;
  return host->recordCount(host->database(0)) + (sameThread ? 1000 : 0);
}

void Line(const std::string& text) {
  if (report == nullptr) return;
  std::fputs(text.c_str(), report);
  std::fputc('\n', report);
  std::fflush(report);
}

// Bytes shown so that a report line stays one line: CR as \r.
std::string Shown(const std::string& bytes) {
  std::string out;
  for (const char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Error(std::int32_t code) {
  return "error " + std::to_string(code) + " " + host->lastError();
}

// A text through a service with the length protocol: asked with a small
// buffer first, then with one as long as the answer said.
template <typename Ask>
std::string Text(Ask ask) {
  char small[4];
  const std::int32_t length = ask(small, static_cast<std::int32_t>(sizeof small));
  if (length < 0) return Error(length);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const std::int32_t again = ask(text.data(), static_cast<std::int32_t>(text.size()));
  if (again != length) return "length changed";
  text.resize(static_cast<std::size_t>(length));
  if (length >= 3 && std::strncmp(small, text.c_str(), 3) != 0) return "cut copy differs";
  return "'" + Shown(text) + "'";
}

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
  std::string out;
  char two[3];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    out += two;
  }
  return out;
}

void Record(TBDatabase db, std::int32_t fields, const std::string& label) {
  TBRecordIdentity identity{};
  const std::int32_t got = host->recordIdentity(db, &identity);
  std::string line = label + " " + (got == TB_OK ? Hex(identity.bytes, 8) : Error(got)) +
                     " count " + std::to_string(host->modificationCount(db));
  for (std::int32_t f = 0; f < fields; ++f) {
    line += " " + Text([&](char* b, std::int32_t s) { return host->readFieldText(db, f, b, s); });
  }
  Line(line);
}

void Walk(std::int32_t index) {
  const TBDatabase db = host->database(index);
  const std::string at = "db " + std::to_string(index);
  char flags[16];
  std::snprintf(flags, sizeof flags, "%08" PRIx32, host->queryFlags(db, TB_QUERY_SYNC_FLAGS));
  Line(at + " name " + Text([&](char* b, std::int32_t s) { return host->databaseName(db, b, s); }) +
       " flags " + flags + " other " +
       std::to_string(host->queryFlags(db, TB_FOURCC('X', 'X', 'X', 'X'))) + " records " +
       std::to_string(host->recordCount(db)) + " current " +
       (host->currentDatabase() == db ? "yes" : "no"));
  TBDateTimeFormat f{};
  if (const std::int32_t got = host->dateTimeFormat(db, &f); got != TB_OK) {
    Line(at + " formats " + Error(got));
  } else {
    Line(at + " formats " + std::string(1, static_cast<char>(f.dateSeparator)) + " " +
         std::to_string(f.dateOrder) + std::to_string(f.twoDigitMonth) +
         std::to_string(f.twoDigitDay) + std::to_string(f.preferTypedSeparator) + " " +
         std::string(1, static_cast<char>(f.timeSeparator)) + " " + std::to_string(f.leadingZero) +
         std::to_string(f.twelveHourClock) + " '" + f.morningSuffix + "' '" + f.afternoonSuffix +
         "' '" + f.twentyFourSuffix + "'");
  }
  const std::int32_t fields = host->countFields(db);
  for (std::int32_t i = 0; i < fields; ++i) {
    TBFieldKey key{};
    host->fieldKey(db, i, &key);
    Line(at + " field " + std::to_string(i) + " key " +
         std::string(reinterpret_cast<const char*>(key.bytes + 1), key.bytes[0]) + " by key " +
         std::to_string(host->fieldByKey(db, &key)) + " type " +
         std::to_string(host->fieldType(db, i)) + " name " +
         Text([&](char* b, std::int32_t s) { return host->fieldName(db, i, b, s); }));
  }
  for (std::int32_t i = 0; i < host->countValueLists(db); ++i) {
    char name[64];
    host->valueListName(db, i, name, sizeof name);
    Line(at + " list " + Shown(name) + " " +
         Text([&](char* b, std::int32_t s) { return host->valueListText(db, name, b, s); }));
  }
  for (const std::int32_t selection : {TB_SELECTION_ALL, TB_SELECTION_CURRENT}) {
    const std::int32_t count = host->chooseSelection(db, selection);
    Line(at + (selection == TB_SELECTION_ALL ? " all " : " selected ") + std::to_string(count));
    for (std::int32_t n = 1; n <= count; ++n) {
      host->goToRecord(db, n);
      Record(db, fields, at + " record " + std::to_string(n));
    }
  }
  char settings[1024];
  const std::int32_t qzp1 =
      host->readPluginData(db, TB_FOURCC('Q', 'Z', 'P', '1'), settings, sizeof settings);
  Line(at + " QZP1 " + (qzp1 >= 0 ? std::to_string(qzp1) + " bytes" : Error(qzp1)));
}

// Changes in the first database: an edit, a new record, a copy, a delete,
// plug-in data, and calls that must be refused.
void Change() {
  const TBDatabase db = host->database(0);
  host->chooseSelection(db, TB_SELECTION_ALL);
  host->goToRecord(db, 1);
  TBRecordIdentity first{};
  host->recordIdentity(db, &first);
  const std::int32_t before = host->modificationCount(db);
  const char edited[] = "Zo\x91 Ann\rsecond line";  // Mac OS Roman 0x91: e with diaeresis
  const std::int32_t outside = host->writeFieldText(db, 0, edited, sizeof edited - 1);
  host->beginEdit(db);
  const std::int32_t wrote = host->writeFieldText(db, 0, edited, sizeof edited - 1);
  const std::string written = wrote == TB_OK ? std::string("0") : Error(wrote);
  const std::string during =
      Text([&](char* b, std::int32_t s) { return host->readFieldText(db, 0, b, s); });
  const std::int32_t moved = host->goToRecord(db, 1);
  const std::int32_t committed = host->commitEdit(db);
  Line("edit outside " + std::to_string(outside) + " write " + written + " during " + during +
       " moving " + std::to_string(moved) + " commit " + std::to_string(committed) + " count " +
       std::to_string(before) + " to " + std::to_string(host->modificationCount(db)));

  host->createRecord(db);
  host->beginEdit(db);
  host->writeFieldText(db, 0, "Made", 4);
  host->commitEdit(db);
  Record(db, 1, "created");
  host->duplicateRecord(db);
  Record(db, 1, "copied");
  host->deleteRecord(db);
  Line("deleted copy, records " + std::to_string(host->recordCount(db)) + " count without record " +
       std::to_string(host->modificationCount(db)));
  const std::int32_t found = host->findRecord(db, &first);
  Record(db, 1, "found " + std::to_string(found));

  host->writePluginData(db, TB_FOURCC('T', 'B', 'p', 'r'), "probe", 5);
  char data[8] = {};
  const std::int32_t length = host->readPluginData(db, TB_FOURCC('T', 'B', 'p', 'r'), data, 8);
  Line("plug-in data " + std::to_string(length) + " " + std::string(data, 5));

  TBRecordIdentity unknown{};
  TBFieldKey noKey{};
  noKey.bytes[0] = 3;
  std::memcpy(noKey.bytes + 1, "F99", 3);
  Line("refused no-database " + std::string(host->database(99) == nullptr ? "null" : "?") +
       " go-to-0 " + std::to_string(host->goToRecord(db, 0)) + " find " +
       std::to_string(host->findRecord(db, &unknown)) + " key " +
       std::to_string(host->fieldByKey(db, &noKey)) + " list " +
       std::to_string(host->valueListText(db, "Nope", data, 8)) + " handle " +
       std::to_string(host->recordCount(reinterpret_cast<TBDatabase>(&unknown))) + " commit " +
       std::to_string(host->commitEdit(db)));
}

LRESULT AnswerMessage(HWND, UINT message, WPARAM, LPARAM) {
  if (message == WM_APP) return CountAndThread();
  if (message == WM_APP + 1) {
    Line("quit asked");
    PostQuitMessage(0);
  }
  return 0;
}

HDDEDATA AnswerDde(UINT type, UINT, HCONV, HSZ, HSZ item, HDDEDATA, ULONG_PTR, ULONG_PTR) {
  if (type == XTYP_CONNECT) return reinterpret_cast<HDDEDATA>(1);
  if (type != XTYP_REQUEST) return nullptr;
  const std::string text = std::to_string(CountAndThread());
  return DdeCreateDataHandle(ddeInstance, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>(text.size() + 1), 0, item, CF_TEXT, 0);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void TBExternCallProc(TBParamBlock* block) {
  switch (block->callCode) {
    case TB_CALL_START: {
      host = block->services;
      const char* path = std::getenv("TB_PROBE_REPORT");
      report = path != nullptr ? std::fopen(path, "ab") : nullptr;
      Line("start version " + std::to_string(block->interfaceVersion) + " services " +
           std::to_string(host->interfaceVersion) + " edition " + std::to_string(host->edition) +
           " size " + std::to_string(host->size == sizeof(TBHostServices)));
      const std::int32_t databases = host->countDatabases();
      Line("databases " + std::to_string(databases));
      for (std::int32_t i = 0; i < databases; ++i) Walk(i);
      if (databases > 0 && std::getenv("TB_PROBE_CHANGE") != nullptr) Change();
      startThread = pthread_self();
      if (std::getenv("TB_PROBE_WINDOW") != nullptr) {
        window = CreateWindowExW(0, u"TBServiceProbe", u"Probe", 0, AnswerMessage, nullptr);
      }
      if (std::getenv("TB_PROBE_DDE") != nullptr &&
          DdeInitializeA(&ddeInstance, AnswerDde, APPCLASS_STANDARD, 0) == DMLERR_NO_ERROR) {
        DdeNameService(ddeInstance, DdeCreateStringHandleA(ddeInstance, "TBPROBE", CP_WINANSI),
                       nullptr, DNS_REGISTER);
      }
      const char* result = std::getenv("TB_PROBE_RESULT");
      block->result = result != nullptr ? std::atoi(result) : 13;
      break;
    }
    case TB_CALL_ABOUT:
      Line("about");
      break;
    case TB_CALL_SETTINGS: {
      const TBDatabase db = host->currentDatabase();
      char name[64] = {};
      host->databaseName(db, name, sizeof name);
      char settings[812] = {};
      settings[1] = 2;
      settings[5] = 1;
      settings[9] = 1;
      host->writePluginData(db, TB_FOURCC('Q', 'Z', 'P', '1'), settings, sizeof settings);
      Line(std::string("settings ") + name);
      break;
    }
    case TB_CALL_STOP:
      if (window != nullptr) DestroyWindow(window);
      window = nullptr;
      if (ddeInstance != 0) DdeUninitialize(ddeInstance);
      ddeInstance = 0;
      Line("stop");
      if (report != nullptr) std::fclose(report);
      report = nullptr;
      break;
    default:
      break;
  }
}
