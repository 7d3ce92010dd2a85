#include "host/zel_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

namespace {

constexpr const char* kNothingSaved = "; nothing was saved";
// A temporary file is ".NAME.tmp-PID-RANDOM" beside its target, so that a save killed
// between naming it and renaming it can be recognised and removed by the next save.
constexpr const char* kTempMark = ".tmp-";

std::string Reason(const std::string& path, const char* what, int error) {
  return path + ": " + what + ": " + std::strerror(error) + kNothingSaved;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

// The file that a save to `path` must replace: symbolic links are followed (a dangling one
// to the file it would create), so the link itself stays a link.
bool ResolveLinks(const std::string& path, std::string& target, std::string& error) {
  target = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(target.c_str(), buf, sizeof buf - 1);
    if (n < 0) {
      error = Reason(path, "cannot follow the link", errno);
      return false;
    }
    const std::string link(buf, static_cast<std::size_t>(n));
    target = link.front() == '/' ? link : Join(FolderOf(target), link);
  }
  error = Reason(path, "cannot follow the link", ELOOP);
  return false;
}

// Removes the temporary files of saves to `name` whose process no longer runs.
void RemoveStaleTemporaries(const std::string& folder, const std::string& name) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  const std::string prefix = "." + name + kTempMark;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view found = entry->d_name;
    if (found.substr(0, prefix.size()) != prefix) continue;
    const long pid = std::strtol(entry->d_name + prefix.size(), nullptr, 10);
    if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
      ::unlink(Join(folder, entry->d_name).c_str());
  }
  ::closedir(dir);
}

std::string TemporaryName(const std::string& folder, const std::string& name) {
  static std::mt19937_64 random{std::random_device{}()};
  return Join(folder, "." + name + kTempMark + std::to_string(::getpid()) + "-" +
                          std::to_string(random() % 1000000000));
}

bool WriteAll(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// An unnamed file in the folder: a process killed before the rename leaves nothing.
// Filesystems without unnamed files get a named one.
int OpenTemporary(const std::string& folder) {
  return ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
}

// Gives the unnamed file `fd` the name `temp`.
bool NameTemporary(int fd, const std::string& temp) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

}  // namespace

namespace {

// A file written in full beside its target, waiting to be renamed over it. Where the
// filesystem allows, it stays unnamed (`fd` open) until its rename: a set of files killed
// while it is written leaves nothing, and one killed among its renames at most one temporary.
struct PendingFile {
  std::string path;  // as the caller named it, for messages
  std::string target, temp;
  int fd = -1;  // the unnamed file, until it is named
};

std::string Prepare(const std::string& path, std::string_view bytes, PendingFile& pending) {
  if (path.empty()) return std::string("an empty file name") + kNothingSaved;
  std::string target, error;
  if (!ResolveLinks(path, target, error)) return error;
  if (target.back() == '/') return path + ": names a folder, not a file" + kNothingSaved;
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) return path + ": is not a regular file" + kNothingSaved;
  if (exists && ((old.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0))
    return path + ": the file is read-only" + kNothingSaved;

  const std::string folder = FolderOf(target), name = NameOf(target);
  RemoveStaleTemporaries(folder, name);
  const std::string temp = TemporaryName(folder, name);
  int fd = OpenTemporary(folder);
  const bool unnamed = fd >= 0;
  if (!unnamed) fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return Reason(path, "cannot create a file in its folder", errno);
  auto fail = [&](const char* what) {
    const int saved = errno;
    ::close(fd);
    if (!unnamed) ::unlink(temp.c_str());
    return Reason(path, what, saved);
  };
  if (exists) {
    // Root saving a user's file leaves it the user's; chown clears set-id bits, so the mode
    // goes after it.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0 && errno != EPERM)
      return fail("cannot keep the owner");
    if (::fchmod(fd, old.st_mode & 07777) != 0) return fail("cannot keep the mode");
  }
  if (!WriteAll(fd, bytes)) return fail("cannot write");
  if (::fsync(fd) != 0) return fail("cannot flush to disk");
  pending = {path, target, temp, unnamed ? fd : -1};
  if (!unnamed && ::close(fd) != 0) {
    const int saved = errno;
    ::unlink(temp.c_str());
    return Reason(path, "cannot close", saved);
  }
  return {};
}

void Discard(PendingFile& pending) {
  if (pending.fd >= 0) {
    ::close(pending.fd);
    pending.fd = -1;
  } else {
    ::unlink(pending.temp.c_str());
  }
}

std::string Commit(PendingFile& pending) {
  if (pending.fd >= 0) {
    const bool named = NameTemporary(pending.fd, pending.temp);
    const int saved = errno;
    const int closing = ::close(pending.fd);
    pending.fd = -1;
    if (!named) return Reason(pending.path, "cannot name the new file", saved);
    if (closing != 0) {
      const int why = errno;
      ::unlink(pending.temp.c_str());
      return Reason(pending.path, "cannot close", why);
    }
  }
  if (::rename(pending.temp.c_str(), pending.target.c_str()) != 0) {
    const int saved = errno;
    ::unlink(pending.temp.c_str());
    return Reason(pending.path, "cannot replace", saved);
  }
  // Make the rename itself durable.
  const int dir = ::open(FolderOf(pending.target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return {};
}

}  // namespace

std::string ZelWriteFileAtomically(const std::string& path, std::string_view bytes) {
  PendingFile pending;
  if (std::string why = Prepare(path, bytes, pending); !why.empty()) return why;
  return Commit(pending);
}

std::string ZelWriteFilesTogether(const std::vector<ZelFileBytes>& files) {
  std::vector<PendingFile> pending(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (std::string why = Prepare(files[i].path, files[i].bytes, pending[i]); !why.empty()) {
      for (std::size_t k = 0; k < i; ++k) Discard(pending[k]);
      return why;
    }
  }
  // Renames do not fail for want of space; one that fails anyway leaves the rest unrenamed.
  // Every file is written before the first is renamed, so only a kill in the moment of the
  // renames can leave a set part new, part old.
  for (std::size_t i = 0; i < pending.size(); ++i) {
    if (std::string why = Commit(pending[i]); !why.empty()) {
      for (std::size_t k = i + 1; k < pending.size(); ++k) Discard(pending[k]);
      return why;
    }
  }
  return {};
}

namespace {

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Removes the folders that replacements of `name` left when they were killed (their
// process no longer runs): a staging folder not yet swapped in, or an old one not yet removed.
void RemoveStaleFolders(const std::string& parent, const std::string& name) {
  DIR* dir = ::opendir(parent.c_str());
  if (!dir) return;
  const std::string prefix = "." + name + kTempMark;
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view found = entry->d_name;
    if (found.substr(0, prefix.size()) != prefix) continue;
    const long pid = std::strtol(entry->d_name + prefix.size(), nullptr, 10);
    if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
      stale.push_back(Join(parent, entry->d_name));
  }
  ::closedir(dir);
  std::error_code ec;
  for (const std::string& path : stale) std::filesystem::remove_all(path, ec);
}

// Swaps the two folders' names in one step where the filesystem can; else the old folder is
// moved aside first, so that for a moment there is none, but never a mix.
bool SwapFolders(const std::string& fresh, const std::string& target) {
  if (::renameat2(AT_FDCWD, fresh.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  const std::string aside = fresh + "-old";
  if (::rename(target.c_str(), aside.c_str()) != 0) return false;
  if (::rename(fresh.c_str(), target.c_str()) != 0) {
    ::rename(aside.c_str(), target.c_str());
    return false;
  }
  return ::rename(aside.c_str(), fresh.c_str()) == 0;
}

std::string CheckFolder(const std::string& dir, ZelIsOwnFile ours, std::string& target,
                        bool& exists) {
  if (dir.empty()) return std::string("an empty folder name") + kNothingSaved;
  std::string error;
  if (!ResolveLinks(WithoutTrailingSlashes(dir), target, error)) return error;
  struct stat st {};
  exists = ::stat(target.c_str(), &st) == 0;
  if (!exists) return errno == ENOENT ? "" : Reason(dir, "cannot be read", errno);
  if (!S_ISDIR(st.st_mode)) return dir + ": is not a folder" + kNothingSaved;
  DIR* folder = ::opendir(target.c_str());
  if (!folder) return Reason(dir, "cannot be read", errno);
  std::string foreign;
  while (const dirent* entry = ::readdir(folder)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (!ours(name)) {
      foreign = name;
      break;
    }
  }
  ::closedir(folder);
  if (!foreign.empty())
    return dir + ": holds \"" + foreign +
           "\", which this program did not write there; it replaces only a folder of its "
           "own, so choose a new or empty folder" + kNothingSaved;
  return {};
}

}  // namespace

std::string ZelCheckReplaceableFolder(const std::string& dir, ZelIsOwnFile ours) {
  std::string target;
  bool exists = false;
  return CheckFolder(dir, ours, target, exists);
}

std::string ZelReplaceFolder(const std::string& dir, const std::vector<ZelFileBytes>& files,
                             ZelIsOwnFile ours) {
  std::string target;
  bool exists = false;
  if (std::string why = CheckFolder(dir, ours, target, exists); !why.empty()) return why;
  const std::string parent = FolderOf(target), name = NameOf(target);
  std::error_code ec;
  std::filesystem::create_directories(parent, ec);
  if (ec) return dir + ": cannot be created: " + ec.message() + kNothingSaved;
  RemoveStaleFolders(parent, name);
  const std::string staging = TemporaryName(parent, name);
  if (::mkdir(staging.c_str(), 0777) != 0) return Reason(dir, "cannot be created", errno);
  struct stat old {};
  if (exists && ::stat(target.c_str(), &old) == 0) ::chmod(staging.c_str(), old.st_mode & 07777);
  auto fail = [&](std::string why) {
    std::filesystem::remove_all(staging, ec);
    return why;
  };
  for (const ZelFileBytes& f : files) {
    const std::string staged = Join(staging, f.path);
    const std::string why = ZelWriteFileAtomically(staged, f.bytes);
    // Named as the user knows the file, not by its staging folder.
    if (!why.empty())
      return fail(Join(WithoutTrailingSlashes(dir), f.path) + why.substr(staged.size()));
  }
  if (exists ? !SwapFolders(staging, target) : ::rename(staging.c_str(), target.c_str()) != 0)
    return fail(Reason(dir, "cannot be replaced", errno));
  // After a swap the staging name holds the old folder.
  if (exists) std::filesystem::remove_all(staging, ec);
  const int fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  return {};
}

std::string ZelFileExtension(std::string_view path) {
  const std::string_view name = path.substr(path.rfind('/') + 1);
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  std::string ext(name.substr(dot));
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

std::string ZelReadFileLimited(const std::string& path, std::size_t max_bytes,
                               std::string& text) {
  text.clear();
  const std::string too_large =
      path + ": is larger than " + std::to_string(max_bytes >> 20) + " MiB, the most read";
  // Not blocking: opening a named pipe would otherwise wait for a writer that never comes.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return path + ": cannot be opened: " + std::strerror(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int saved = errno;
    ::close(fd);
    return path + ": cannot be read: " + std::strerror(saved);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return path + (S_ISDIR(st.st_mode) ? ": is a folder, not a file" : ": is not a regular file");
  }
  if (static_cast<std::size_t>(st.st_size) > max_bytes) {
    ::close(fd);
    return too_large;
  }
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int saved = errno;
      ::close(fd);
      text.clear();
      return path + ": cannot be read: " + std::strerror(saved);
    }
    if (n == 0) break;
    if (text.size() + static_cast<std::size_t>(n) > max_bytes) {
      ::close(fd);
      text.clear();
      return too_large;
    }
    text.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return {};
}
