// tbm-rapi, the desktop's side of the link to the handheld: pair this
// desktop ($TBM_DESKTOP_ROOT) with a handheld by hand, ask it for its
// temporary folder to see that the protected channel works, and copy files
// to and from it and list its folders.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "CommandOutcome.h"
#include "HostErrors.h"
#include "Machine.h"
#include "Rapi.h"
#include "Utf16.h"

namespace tbm::rapi {
namespace {

constexpr const char* kTool = "tbm-rapi";

Status Pair(const std::string& addressText, const std::string& code, std::string name) {
  Endpoint address;
  if (Status status = ParseEndpoint(addressText, &address); !status.ok()) return status;
  if (name.empty()) {
    char host[256] = {};
    name = ::gethostname(host, sizeof host - 1) == 0 ? host : "desktop";
  }
  DesktopPartnership partnership;
  if (Status status = PairWithHandheld(address, code, Utf8ToUtf16(name), &partnership);
      !status.ok()) {
    return status;
  }
  std::printf("Paired with the handheld at %s as partner %s.\n",
              partnership.address.ToString().c_str(), partnership.partnerId.c_str());
  return Status();
}

Status TempPath() {
  if (FAILED(CeRapiInit())) return Status(StatusCode::kFailed, RapiFailureText());
  WCHAR path[260];
  const DWORD length = CeGetTempPath(260, path);
  Status status;
  if (length == 0 || length >= 260) {
    status =
        CeRapiGetError() != S_OK
            ? Status(StatusCode::kFailed, RapiFailureText())
            : Status(StatusCode::kFailed, std::string("the handheld has no temporary folder: ") +
                                              DescribeError(CeGetLastError()));
  } else {
    std::printf("%s\n", Utf16ToUtf8(std::u16string_view(path, length)).c_str());
  }
  CeRapiUninit();
  return status;
}

// The failure of the call just made, in words: why the handheld could not
// be reached, or the error it kept.
Status CallFailure(const std::string& what) {
  if (CeRapiGetError() != S_OK) return Status(StatusCode::kFailed, RapiFailureText());
  const DWORD error = CeGetLastError();
  return PlatformFailure(error, what + ": " + DescribeError(error));
}

// The handheld refuses host paths; a person who typed one hears why here.
Status CheckHandheldPath(const std::string& path) {
  if (path.find('/') == std::string::npos) return Status();
  return Status(StatusCode::kInvalidArgument,
                "'" + path +
                    "' is not a handheld path: name the handheld's files with backslashes, "
                    "as in '\\My Documents\\Sales.tbm'");
}

// Runs body on an open connection and closes it afterwards.
Status Connected(const std::function<Status()>& body) {
  if (FAILED(CeRapiInit())) return Status(StatusCode::kFailed, RapiFailureText());
  Status status = body();
  CeRapiUninit();
  return status;
}

// Bytes moved per CeReadFile and CeWriteFile.
constexpr DWORD kCopyBytes = 4u * 1024 * 1024;

Status Get(const std::string& handheldPath, const std::string& hostFile) {
  if (Status status = CheckHandheldPath(handheldPath); !status.ok()) return status;
  return Connected([&] {
    const std::u16string source = Utf8ToUtf16(handheldPath);
    HANDLE file = CeCreateFile(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return CallFailure("cannot open " + handheldPath);
    const std::string partial = hostFile + ".part";
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    Status status;
    if (!out) status = Status(StatusCode::kIoFailed, "cannot write " + partial);
    std::vector<char> buffer(kCopyBytes);
    while (status.ok()) {
      DWORD read = 0;
      if (!CeReadFile(file, buffer.data(), kCopyBytes, &read, nullptr)) {
        status = CallFailure("cannot read " + handheldPath);
      } else if (read == 0) {
        break;
      } else if (!out.write(buffer.data(), read)) {
        status = Status(StatusCode::kIoFailed, "cannot write " + partial + " (is the disk full?)");
      }
    }
    CeCloseHandle(file);
    out.close();
    std::error_code error;
    if (status.ok() && !out) status = Status(StatusCode::kIoFailed, "cannot write " + partial);
    if (status.ok()) std::filesystem::rename(partial, hostFile, error);
    if (status.ok() && error) {
      status =
          Status(StatusCode::kIoFailed, "cannot put " + hostFile + " in place: " + error.message());
    }
    if (!status.ok()) std::filesystem::remove(partial, error);
    return status;
  });
}

Status Put(const std::string& hostFile, const std::string& handheldPath) {
  if (Status status = CheckHandheldPath(handheldPath); !status.ok()) return status;
  std::ifstream in(hostFile, std::ios::binary);
  if (!in) return Status(StatusCode::kNotFound, "cannot read " + hostFile);
  return Connected([&] {
    const std::u16string target = Utf8ToUtf16(handheldPath);
    HANDLE file =
        CeCreateFile(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return CallFailure("cannot create " + handheldPath);
    std::vector<char> buffer(kCopyBytes);
    Status status;
    while (status.ok() && in) {
      in.read(buffer.data(), kCopyBytes);
      const auto count = static_cast<DWORD>(in.gcount());
      if (count == 0) break;
      DWORD written = 0;
      if (!CeWriteFile(file, buffer.data(), count, &written, nullptr)) {
        status = CallFailure("cannot write " + handheldPath);
      }
    }
    if (status.ok() && in.bad()) status = Status(StatusCode::kIoFailed, "cannot read " + hostFile);
    CeCloseHandle(file);
    return status;
  });
}

Status List(const std::string& pattern) {
  if (Status status = CheckHandheldPath(pattern); !status.ok()) return status;
  return Connected([&] {
    const std::u16string text = Utf8ToUtf16(pattern);
    CE_FIND_DATA entry{};
    HANDLE find = CeFindFirstFile(text.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
      if (CeRapiGetError() == S_OK && CeGetLastError() == ERROR_FILE_NOT_FOUND) {
        std::printf("Nothing on the handheld matches %s.\n", pattern.c_str());
        return Status();
      }
      return CallFailure("cannot list " + pattern);
    }
    Status status;
    do {
      const std::string name = Utf16ToUtf8(std::u16string_view(entry.cFileName));
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        std::printf("%12s  %s\\\n", "<folder>", name.c_str());
      } else {
        const std::uint64_t size =
            static_cast<std::uint64_t>(entry.nFileSizeHigh) << 32 | entry.nFileSizeLow;
        std::printf("%12llu  %s\n", static_cast<unsigned long long>(size), name.c_str());
      }
    } while (CeFindNextFile(find, &entry));
    if (CeRapiGetError() != S_OK || CeGetLastError() != ERROR_NO_MORE_FILES) {
      status = CallFailure("the listing of " + pattern + " stopped");
    }
    CeFindClose(find);
    return status;
  });
}

int Main(int argc, char** argv) {
  SelectMachine(Machine::Desktop);
  CLI::App app{"tbm-rapi: pair this desktop ($TBM_DESKTOP_ROOT) with a handheld, and call it",
               kTool};
  app.require_subcommand(1);
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return std::string(kTool) + ": " + e.what() + " (run 'tbm-rapi --help' for more)\n";
  });
  double seconds = 30;
  app.add_option("--time-limit", seconds, "seconds to wait for the handheld (30)")
      ->check(CLI::Range(0.01, 3600.0));
  std::function<Status()> run;
  std::string address, code, name;
  CLI::App* pair =
      app.add_subcommand("pair", "pair with the handheld whose 'tbm-devicelink pair' shows a code");
  pair->add_option("address", address, "HOST:PORT as the handheld shows it")->required();
  pair->add_option("code", code, "the code the handheld shows")->required();
  pair->add_option("--name", name, "this desktop's name, shown on the handheld (host name)");
  pair->callback([&] { run = [&] { return Pair(address, code, name); }; });
  app.add_subcommand("temp-path", "show the handheld's temporary folder")->callback([&] {
    run = [] { return TempPath(); };
  });
  std::string from, to, pattern;
  CLI::App* get = app.add_subcommand("get", "copy a file from the handheld to this desktop");
  get->add_option("handheld-path", from, "the handheld's file, e.g. '\\My Documents\\Sales.tbm'")
      ->required();
  get->add_option("host-file", to, "where to put it here")->required();
  get->callback([&] { run = [&] { return Get(from, to); }; });
  CLI::App* put = app.add_subcommand("put", "copy a file from this desktop to the handheld");
  put->add_option("host-file", from, "the file here")->required();
  put->add_option("handheld-path", to, "where to put it on the handheld (replaced if there)")
      ->required();
  put->callback([&] { run = [&] { return Put(from, to); }; });
  CLI::App* list = app.add_subcommand("list", "list a folder of the handheld");
  list->add_option("pattern", pattern, "a folder and name pattern, e.g. '\\My Documents\\*'")
      ->required();
  list->callback([&] { run = [&] { return List(pattern); }; });
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? 0 : 2;
  }
  SetCallTimeLimit(std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
  const Status status = run ? run() : Status::Error("no command given");
  return tools::ReportOutcome(kTool, status);
}

}  // namespace
}  // namespace tbm::rapi

int main(int argc, char** argv) { return tbm::rapi::Main(argc, argv); }
