// Writing a whole file so that it is either all there or not changed at all.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tbm::sample {

// Writes all of bytes to the open descriptor fd, going on after short writes
// and interruptions. Returns false with errno set when a write fails.
bool WriteAll(int fd, std::string_view bytes);

// Makes path hold exactly bytes: they go to a new temporary file in the same
// folder, which is flushed to disk and then renamed over path, so a reader
// (or a crash) sees the old file or the new one, never a part. The new file
// gets the usual permissions (0666 less the umask). Returns an empty string
// on success, else words saying what went wrong; the temporary file is
// removed then and path is left as it was.
std::string ReplaceFileContents(const std::filesystem::path& path, std::string_view bytes);

}  // namespace tbm::sample
