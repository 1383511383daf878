#include "ImageFolder.h"

#include <system_error>
#include <vector>

#include "ScannerLog.h"
#include "ScnApi.h"
#include "Utf16.h"

namespace tbm::scan {
namespace {

namespace fs = std::filesystem;

// A name in target that is not taken: the image's own, else with " (2)",
// " (3)" ... before its extension.
fs::path FreeName(const fs::path& target, const fs::path& name) {
  fs::path candidate = target / name;
  std::error_code error;
  for (int n = 2; fs::exists(candidate, error) && n < 10000; ++n) {
    candidate = target /
                (name.stem().string() + " (" + std::to_string(n) + ")" + name.extension().string());
  }
  return candidate;
}

std::string Describe(const std::error_code& error) {
  if (error == std::errc::permission_denied) return "permission denied";
  if (error == std::errc::no_space_on_device) return "the disk is full";
  return error.message();
}

}  // namespace

ImageFolder::ImageFolder(fs::path folder) : folder_(std::move(folder)) {
  // Made when missing, so that whoever set the scanner up finds the place
  // to drop images in.
  std::error_code error;
  fs::create_directories(folder_, error);
}

std::optional<fs::path> ImageFolder::NextReadyImage() {
  std::map<fs::path, Seen> look;
  std::error_code error;
  fs::directory_iterator entries(folder_, error);
  if (error) {
    const std::string problem =
        error == std::errc::no_such_file_or_directory ? "it does not exist" : Describe(error);
    if (problem != lastProblem_) {
      ScannerLog(LogLevel::kWarning, "cannot look for images in " + folder_.string() + ": " +
                                         problem + "; it is looked at again");
      lastProblem_ = problem;
    }
    lastLook_.clear();
    return std::nullopt;
  }
  lastProblem_.clear();
  for (const fs::directory_entry& entry : entries) {
    const std::string name = entry.path().filename().string();
    std::error_code entry_error;
    if (name.empty() || name[0] == '.' || !entry.is_regular_file(entry_error)) continue;
    Seen seen;
    seen.size = entry.file_size(entry_error);
    if (entry_error) continue;
    seen.time = entry.last_write_time(entry_error);
    if (entry_error) continue;
    look.emplace(entry.path(), seen);
  }
  std::optional<fs::path> ready;
  Seen readySeen;
  for (const auto& [path, seen] : look) {
    const auto before = lastLook_.find(path);
    if (before == lastLook_.end() || !(before->second == seen)) continue;
    const auto stuck = stuck_.find(path);
    if (stuck != stuck_.end() && stuck->second == seen) continue;
    if (!ready || seen.time < readySeen.time) {
      ready = path;
      readySeen = seen;
    }
  }
  // Forget images that were moved or removed by someone else.
  std::erase_if(stuck_, [&](const auto& item) { return !look.contains(item.first); });
  lastLook_ = std::move(look);
  return ready;
}

std::optional<fs::path> ImageFolder::Done(const fs::path& image, bool gaveLabel) {
  const fs::path target =
      folder_ / Utf16ToUtf8(gaveLabel ? kScannedImagesFolder : kUnreadableImagesFolder);
  std::error_code error;
  fs::create_directories(target, error);
  const fs::path moved = FreeName(target, image.filename());
  if (!error) fs::rename(image, moved, error);
  if (!error) {
    lastLook_.erase(image);
    return moved;
  }
  ScannerLog(LogLevel::kWarning, "cannot move " + image.string() + " into " + target.string() +
                                     ": " + Describe(error) +
                                     "; it is not read again until it changes");
  const auto seen = lastLook_.find(image);
  if (seen != lastLook_.end()) stuck_[image] = seen->second;
  return std::nullopt;
}

void ImageFolder::PutBack(const fs::path& moved, const fs::path& image) {
  std::error_code error;
  if (!fs::exists(image, error)) fs::rename(moved, image, error);
  if (error) {
    ScannerLog(LogLevel::kWarning, "cannot put " + moved.string() + " back as " + image.string() +
                                       ": " + Describe(error));
  }
}

}  // namespace tbm::scan
