#pragma once
// Every file the program writes (setups, CSV logs, plots, reports, motor files) and every
// text file it reads goes through here, so that no writer can tear or lose a file and no
// reader can be made to read without end. docs/files.md says what callers may rely on.

#include <cstddef>
#include <string>
#include <string_view>

// Replaces the file at `path` with `bytes`, or changes nothing. Through a symbolic link the
// link's target is written; an existing file keeps its owner and mode, a new one gets the
// mode that the umask leaves of 0666. A read-only file, a path that names no regular file,
// or a full disk is refused. Empty on success, else "path: why", fit to show as it is.
[[nodiscard]] std::string ZelWriteFileAtomically(const std::string& path, std::string_view bytes);

// Reads a whole file of at most `max_bytes`. A larger file (or a device that never ends) is
// refused once `max_bytes` is passed, without reading it whole. Empty on success, else
// "path: why".
[[nodiscard]] std::string ZelReadFileLimited(const std::string& path, std::size_t max_bytes,
                                             std::string& text);

// Setups and dialog scripts are refused above this size: a setup of 100,000 parameters
// stays well below it.
inline constexpr std::size_t kZelMaxInputFileBytes = 32u << 20;
