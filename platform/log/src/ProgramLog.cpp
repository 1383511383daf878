#include "ProgramLog.h"

#include <spdlog/logger.h>
#include <spdlog/sinks/rotating_file_sink.h>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "Machine.h"

namespace tbm {
namespace {

struct OpenLogs {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<spdlog::logger>> byPath;
};

OpenLogs& Logs() {
  static auto* logs = new OpenLogs();  // lives until the process ends
  return *logs;
}

std::shared_ptr<spdlog::logger> Open(const std::string& program, const std::string& path) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  auto sink =
      std::make_shared<spdlog::sinks::rotating_file_sink_mt>(path, kLogFileBytes, kLogFilesKept);
  auto logger = std::make_shared<spdlog::logger>(program, std::move(sink));
  logger->set_pattern("%Y-%m-%d %H:%M:%S.%e [%n] %l: %v");
  logger->set_level(spdlog::level::info);
  logger->flush_on(spdlog::level::info);
  return logger;
}

spdlog::level::level_enum LevelOf(LogLevel level) {
  switch (level) {
    case LogLevel::kWarning:
      return spdlog::level::warn;
    case LogLevel::kError:
      return spdlog::level::err;
    case LogLevel::kInfo:
      break;
  }
  return spdlog::level::info;
}

}  // namespace

std::string LogFilePath(const std::string& program) {
  return MachineRoot() + "/log/" + program + ".log";
}

void WriteLog(const std::string& program, LogLevel level, std::string_view text) {
  try {
    const std::string path = LogFilePath(program);
    std::shared_ptr<spdlog::logger> logger;
    {
      OpenLogs& logs = Logs();
      std::lock_guard lock(logs.mutex);
      auto& slot = logs.byPath[path];
      if (!slot) slot = Open(program, path);
      logger = slot;
    }
    logger->log(LevelOf(level), "{}", text);
  } catch (const std::exception&) {
    // The log could not be opened or written; see the header.
  }
}

void CloseLogs() {
  OpenLogs& logs = Logs();
  std::lock_guard lock(logs.mutex);
  logs.byPath.clear();
}

}  // namespace tbm
