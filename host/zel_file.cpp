#include "host/zel_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

std::string ZelWriteFileAtomically(const std::string& path, std::string_view bytes) {
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
  bool named = !unnamed;
  auto fail = [&](const char* what) {
    const int saved = errno;
    if (fd >= 0) ::close(fd);
    if (named) ::unlink(temp.c_str());
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
  if (unnamed) {
    if (!NameTemporary(fd, temp)) return fail("cannot name the new file");
    named = true;
  }
  const int closing = ::close(fd);
  fd = -1;
  if (closing != 0) return fail("cannot close");
  if (::rename(temp.c_str(), target.c_str()) != 0) return fail("cannot replace");
  // Make the rename itself durable.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return {};
}

std::string ZelReadFileLimited(const std::string& path, std::size_t max_bytes,
                               std::string& text) {
  text.clear();
  const std::string too_large =
      path + ": is larger than " + std::to_string(max_bytes >> 20) + " MiB, the most read";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return path + ": cannot be opened: " + std::strerror(errno);
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return path + ": is a folder, not a file";
  }
  if (S_ISREG(st.st_mode) && static_cast<std::size_t>(st.st_size) > max_bytes) {
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
