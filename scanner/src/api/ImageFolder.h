// The folder where image files are dropped to be scanned. Images are taken
// oldest first, once their size and time have stayed the same between two
// looks (so a file still being written is not taken), and after reading each
// is moved out of the way: into "Scanned" when it gave a label, into
// "Unreadable" when not. Names starting with '.' and subfolders are left
// alone.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace tbm::scan {

class ImageFolder {
 public:
  // Makes the folder when it is missing (a failure shows at the first look).
  explicit ImageFolder(std::filesystem::path folder);

  // Looks at the folder and returns the oldest image ready to be read.
  std::optional<std::filesystem::path> NextReadyImage();

  // Moves a read image into "Scanned" (gaveLabel) or "Unreadable", under a
  // free name, and returns where it went. An image that cannot be moved is
  // remembered, so it is not read again while it stays as it is.
  std::optional<std::filesystem::path> Done(const std::filesystem::path& image, bool gaveLabel);

  // Moves an image back from where Done put it, to be read again.
  void PutBack(const std::filesystem::path& moved, const std::filesystem::path& image);

 private:
  struct Seen {
    std::uintmax_t size = 0;
    std::filesystem::file_time_type time{};
    bool operator==(const Seen&) const = default;
  };

  std::filesystem::path folder_;
  std::map<std::filesystem::path, Seen> lastLook_;
  std::map<std::filesystem::path, Seen> stuck_;  // read, but could not be moved
  std::string lastProblem_;                      // logged once until it changes
};

}  // namespace tbm::scan
