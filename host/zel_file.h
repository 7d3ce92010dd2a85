#pragma once
// Every file the program writes (setups, CSV logs, plots, reports, motor files) and every
// text file it reads goes through here, so that no writer can tear or lose a file and no
// reader can be made to read without end. docs/files.md says what callers may rely on.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Replaces the file at `path` with `bytes`, or changes nothing. Through a symbolic link the
// link's target is written; an existing file keeps its owner and mode, a new one gets the
// mode that the umask leaves of 0666. A read-only file, a path that names no regular file,
// or a full disk is refused. Empty on success, else "path: why", fit to show as it is.
[[nodiscard]] std::string ZelWriteFileAtomically(const std::string& path, std::string_view bytes);

// The name's extension from its last dot, in lower case (".svg" for "B.SVG"); empty when the
// last part of the path has none. Formats are chosen by it without regard to case.
std::string ZelFileExtension(std::string_view path);

// One file of a set that is written together.
struct ZelFileBytes {
  std::string path;  // for ZelReplaceFolder: a name inside the folder
  std::string bytes;
};

// Writes every file or none: each goes to a temporary beside its target first, and only when
// all are written are they renamed over their targets. Empty on success, else the first
// failure, "path: why; nothing was saved".
[[nodiscard]] std::string ZelWriteFilesTogether(const std::vector<ZelFileBytes>& files);

// Replaces the folder `dir` (through a symbolic link, its target) by one that holds exactly
// `files`, so that a reader sees the old set or the new one, never a mix: the new folder is
// built beside it and swapped in, then the old one is removed. A folder that holds anything
// for which `ours` is false (files of the user's) is refused with nothing changed; so is a
// path that names something other than a folder. Empty on success, else "dir: why".
using ZelIsOwnFile = bool (*)(std::string_view name);
[[nodiscard]] std::string ZelCheckReplaceableFolder(const std::string& dir, ZelIsOwnFile ours);
[[nodiscard]] std::string ZelReplaceFolder(const std::string& dir,
                                           const std::vector<ZelFileBytes>& files,
                                           ZelIsOwnFile ours);

// Reads a whole regular file of at most `max_bytes`. Anything else (a folder, a device, a
// named pipe) is refused at once, without waiting for it; a larger file, or one that grows
// past the limit while it is read, once `max_bytes` is passed. Empty on success, else
// "path: why".
[[nodiscard]] std::string ZelReadFileLimited(const std::string& path, std::size_t max_bytes,
                                             std::string& text);

// Setups and dialog scripts are refused above this size: a setup of 100,000 parameters
// stays well below it.
inline constexpr std::size_t kZelMaxInputFileBytes = 32u << 20;
