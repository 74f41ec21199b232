#pragma once
// The panel's own files (the alarm journal's text file and spreadsheet, the
// calibration entries): written whole or not at all, read whole.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace tovik {

// Replaces the file at `path` with what `write` puts into a new file beside
// it (`write` gets the new file's name and returns false with a reason). The
// new file is flushed and renamed over the old one, so a failure at any step
// leaves an existing file as it was and no new file behind. A name that is a
// symbolic link is written through into the link's target; the new file
// takes the old one's permissions. False with the system's reason in
// `reason`.
bool ReplaceFile(const std::string& path,
                 const std::function<bool(const std::string& newFile, std::string& reason)>& write,
                 std::string& reason);

// ReplaceFile with `bytes` as the whole contents.
bool ReplaceFileBytes(const std::string& path, const std::string& bytes, std::string& reason);

// The contents of a regular file, at most `limit` bytes of it; none with the
// system's reason (a directory, a device or a FIFO is refused unread).
std::optional<std::string> ReadFileBytes(const std::string& path, size_t limit, std::string& reason);

// A message box text for a file that could not be written or read:
// `what` ("Не удалось записать файл"), the name, and the system's reason.
std::string FileErrorText(const std::string& what, const std::string& path, const std::string& reason);

}  // namespace tovik
