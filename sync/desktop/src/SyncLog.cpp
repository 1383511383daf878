#include "SyncLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QLocale>
#include <cerrno>

#include "HostErrors.h"
#include "ProgramLog.h"
#include "Utf16.h"

namespace tbm::desksync {
namespace {

QLocale LocaleOf(LANGID language) {
  switch (language & 0x3FF) {
    case 0x07:
      return QLocale(QLocale::German, QLocale::Germany);
    case 0x0C:
      return QLocale(QLocale::French, QLocale::France);
    case 0x10:
      return QLocale(QLocale::Italian, QLocale::Italy);
    case 0x0A:
      return QLocale(QLocale::Spanish, QLocale::Spain);
    case 0x11:
      return QLocale(QLocale::Japanese, QLocale::Japan);
    default:
      return QLocale(QLocale::English, QLocale::UnitedStates);
  }
}

// text cut to at most kMaxLogLineCharacters characters, never inside a
// surrogate pair.
std::u16string_view CutLine(std::u16string_view text) {
  std::size_t units = 0;
  std::size_t characters = 0;
  while (units < text.size() && characters < kMaxLogLineCharacters) {
    const bool pair = text[units] >= 0xD800 && text[units] <= 0xDBFF && units + 1 < text.size();
    units += pair ? 2 : 1;
    ++characters;
  }
  return text.substr(0, units);
}

Status FileFailure(int error, const std::string& path, const std::string& what) {
  const DWORD platformError = ErrorFromErrno(error, path);
  return PlatformFailure(platformError, what + " " + path + ": " + DescribeError(platformError));
}

}  // namespace

std::u16string LogDateLine(LANGID language) {
  const QLocale locale = LocaleOf(language);
  const QDateTime now = QDateTime::currentDateTime();
  const QString line = locale.toString(now.date(), QLocale::LongFormat) + ", " +
                       locale.toString(now.time(), QLocale::LongFormat);
  return line.toStdU16String();
}

Status CreateLogFile(const std::string& path) {
  const UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (!file) return FileFailure(errno, path, "cannot create the synchronisation log");
  return Status();
}

Status SyncLog::Open(const std::string& path) {
  path_ = path;
  file_.Reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  const Status opened =
      file_ ? Status() : FileFailure(errno, path, "cannot open the synchronisation log");
  if (!opened.ok()) WriteLog("TBDeskSync", LogLevel::kError, opened.message());
  Line(LogDateLine(texts_.language()));
  return opened;
}

void SyncLog::Line(std::u16string_view text) {
  const std::string line = Utf16ToUtf8(CutLine(text));
  WriteLog("TBDeskSync", LogLevel::kInfo, "log: " + line);
  if (echo_ && !line.empty()) echo_(line);
  if (!file_) return;
  const std::string bytes = line + "\r\n";
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(file_.get(), bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      WriteLog("TBDeskSync", LogLevel::kError,
               FileFailure(errno, path_, "cannot write the synchronisation log").message());
      file_.Reset();
      return;
    }
    written += static_cast<std::size_t>(n);
  }
}

void SyncLog::Text(std::uint32_t number, std::initializer_list<res::MessageArgument> arguments) {
  Line(texts_.Message(number, arguments));
}

void SyncLog::RunProblem(std::uint32_t number,
                         std::initializer_list<res::MessageArgument> arguments) {
  Text(number, arguments);
  ++runProblems_;
}

void SyncLog::DatabaseProblem(std::uint32_t number,
                              std::initializer_list<res::MessageArgument> arguments) {
  Text(number, arguments);
  ++databaseProblems_;
}

void SyncLog::Reason(const std::string& why) {
  Text(kLogReason, {res::MessageArgument::Text(Utf8ToUtf16(why))});
}

void SyncLog::Close(bool failed) {
  if (failed && runProblems_ == 0) ++runProblems_;
  Text(failed ? kLogFailed : kLogFinished, {res::MessageArgument::Number(runProblems_),
                                            res::MessageArgument::Number(databaseProblems_)});
  Line(u"");
  file_.Reset();
}

}  // namespace tbm::desksync
