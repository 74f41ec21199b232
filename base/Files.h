#pragma once
// Files written whole or not at all, and read whole without blocking on
// what is not a regular file: the seam every layer's files go through.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace tovik {

// The system's text for an errno value.
std::string SystemReason(int error);

// The folder part of a path ("." without one).
std::string DirectoryOf(const std::string& path);

// The file a name stands for, its symbolic links followed to their end: a
// save replaces that file, in its own folder, and keeps the links. The file
// need not exist yet. None, with errno in `error`, on a link that cannot be
// read or a loop.
std::optional<std::string> ResolveLinks(const std::string& path, int& error);

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

}  // namespace tovik
