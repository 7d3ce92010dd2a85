// The one writer and the bounded reader that every file of the program goes through.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

#include "host/zel_file.h"
#include "tests/support/test_setups.h"

namespace {

using testing::HasSubstr;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  lstat(path.c_str(), &st);
  return st.st_mode;
}

TEST(AtomicWriter, RefusesWhatItMustNotReplace) {
  TempDir dir;
  const std::string read_only = dir.File("read-only.json");
  WriteFile(read_only, "kept");
  chmod(read_only.c_str(), 0444);
  std::filesystem::create_directory(dir.File("folder"));
  const std::pair<std::string, const char*> cases[] = {
      {"", "an empty file name; nothing was saved"},
      {read_only, "read-only.json: the file is read-only; nothing was saved"},
      {"/dev/null", "/dev/null: is not a regular file; nothing was saved"},
      {dir.File("folder"), "folder: is not a regular file"},
      {dir.File("no/such/folder/x.json"), "cannot create a file in its folder"},
  };
  for (const auto& [path, error] : cases) {
    SCOPED_TRACE(path);
    EXPECT_THAT(ZelWriteFileAtomically(path, "new"), HasSubstr(error));
  }
  EXPECT_EQ(ReadFile(read_only), "kept");
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"folder", "read-only.json"}));
}

TEST(AtomicWriter, ANewFileTakesTheUmaskAndAnOldOneKeepsItsMode) {
  TempDir dir;
  const std::string old_file = dir.File("old.csv");
  WriteFile(old_file, "old");
  chmod(old_file.c_str(), 0604);
  const mode_t saved = umask(027);
  EXPECT_EQ(ZelWriteFileAtomically(dir.File("new.csv"), "a"), "");
  EXPECT_EQ(ZelWriteFileAtomically(old_file, "b"), "");
  umask(saved);
  EXPECT_EQ(ModeOf(dir.File("new.csv")) & 07777, 0640u);
  EXPECT_EQ(ModeOf(old_file) & 07777, 0604u);
  EXPECT_EQ(ReadFile(old_file), "b");
}

TEST(AtomicWriter, ALinkIsFollowedToTheFileItNames) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("real"));
  WriteFile(dir.File("real/drive.json"), "old");
  symlink("real/drive.json", dir.File("link.json").c_str());
  symlink("link.json", dir.File("link-to-link.json").c_str());
  symlink("real/new.json", dir.File("dangling.json").c_str());
  EXPECT_EQ(ZelWriteFileAtomically(dir.File("link-to-link.json"), "new"), "");
  EXPECT_EQ(ZelWriteFileAtomically(dir.File("dangling.json"), "made"), "");
  EXPECT_TRUE(S_ISLNK(ModeOf(dir.File("link.json"))));
  EXPECT_TRUE(S_ISLNK(ModeOf(dir.File("dangling.json"))));
  EXPECT_EQ(ReadFile(dir.File("real/drive.json")), "new");
  EXPECT_EQ(ReadFile(dir.File("real/new.json")), "made");
  EXPECT_EQ(Listing(dir.File("real")), (std::vector<std::string>{"drive.json", "new.json"}));
}

TEST(AtomicWriter, RootSavingAUsersFileLeavesItTheUsers) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give a file away";
  TempDir dir;
  const std::string path = dir.File("drive.json");
  WriteFile(path, "old");
  ASSERT_EQ(chown(path.c_str(), 4321, 4322), 0);
  EXPECT_EQ(ZelWriteFileAtomically(path, "new"), "");
  struct stat st {};
  stat(path.c_str(), &st);
  EXPECT_EQ(st.st_uid, 4321u);
  EXPECT_EQ(st.st_gid, 4322u);
}

// A full disk, with the file-size limit standing in for it.
TEST(AtomicWriter, AWriteThatFailsHalfWayKeepsTheOldFileAndSaysWhy) {
  TempDir dir;
  const std::string path = dir.File("log.csv");
  WriteFile(path, "old log");
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 4096;
  setrlimit(RLIMIT_FSIZE, &small);
  const std::string error = ZelWriteFileAtomically(path, std::string(10000, 'x'));
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous_handler);
  EXPECT_THAT(error, HasSubstr("log.csv: cannot write: File too large; nothing was saved"));
  EXPECT_EQ(ReadFile(path), "old log");
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"log.csv"});
}

// Saves killed at random moments never tear the file and leave nothing that the next save
// does not clear away; a temporary of a save still running is left alone.
TEST(AtomicWriter, SavesKilledMidWayLeaveAWholeFileAndNothingElse) {
  TempDir dir;
  const std::string path = dir.File("drive.json");
  const std::string a(200000, 'a'), b(300000, 'b');
  ASSERT_EQ(ZelWriteFileAtomically(path, a), "");
  for (int round = 0; round < 20; ++round) {
    const pid_t child = fork();
    if (child == 0) {
      for (;;) (void)ZelWriteFileAtomically(path, round % 2 ? a : b);
    }
    usleep(static_cast<useconds_t>(2000 + 700 * round));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    const std::string now = ReadFile(path);
    ASSERT_TRUE(now == a || now == b) << "torn file of " << now.size() << " bytes";
  }
  WriteFile(dir.File(".drive.json.tmp-1-5"), "a save that pid 1 still runs");
  WriteFile(dir.File(".drive.json.tmp-999999999-5"), "left by a save that was killed");
  EXPECT_EQ(ZelWriteFileAtomically(path, a), "");
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{".drive.json.tmp-1-5", "drive.json"}));
}

TEST(BoundedReader, ReadsARegularFileAndRefusesAnythingElseAtOnce) {
  TempDir dir;
  const std::string small = dir.File("small.json");
  WriteFile(small, "{}");
  const std::string big = dir.File("big.json");
  WriteFile(big, std::string(1025, ' '));
  // A pipe without a writer: reading it would wait for ever.
  const std::string fifo = dir.File("pipe.json");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string text;
  EXPECT_EQ(ZelReadFileLimited(small, 1024, text), "");
  EXPECT_EQ(text, "{}");
  const std::pair<std::string, const char*> cases[] = {
      {big, "big.json: is larger than"},
      {"/dev/zero", "/dev/zero: is not a regular file"},
      {fifo, "pipe.json: is not a regular file"},
      {dir.path(), "is a folder, not a file"},
      {dir.File("none.json"), "none.json: cannot be opened: No such file or directory"},
  };
  for (const auto& [path, error] : cases) {
    SCOPED_TRACE(path);
    EXPECT_THAT(ZelReadFileLimited(path, 1024, text), HasSubstr(error));
    EXPECT_EQ(text, "");
  }
}

bool OwnRecordFile(std::string_view name) { return name == "a.txt" || name == "b.txt"; }

TEST(FilesTogether, AllAreWrittenOrNoneIsTouched) {
  TempDir dir;
  const std::string a = dir.File("a.txt"), b = dir.File("b.txt");
  WriteFile(a, "old a");
  ASSERT_EQ(ZelWriteFilesTogether({{a, "new a"}, {b, "new b"}}), "");
  EXPECT_EQ(ReadFile(a), "new a");
  EXPECT_EQ(ReadFile(b), "new b");
  // The last file cannot be made: the first keeps its old text and no temporary stays.
  EXPECT_THAT(ZelWriteFilesTogether({{a, "newer a"}, {dir.File("none/c.txt"), "c"}}),
              HasSubstr("none/c.txt: cannot create a file in its folder"));
  EXPECT_EQ(ReadFile(a), "new a");
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"a.txt", "b.txt"}));
}

// A set killed at random moments leaves each file whole, and at most the one temporary of the
// file whose rename it was killed at; the next save of that name clears it away.
TEST(FilesTogether, ASetKilledMidWayLeavesWholeFilesAndAtMostOneTemporary) {
  TempDir dir;
  const std::vector<std::string> paths = {dir.File("a.png"), dir.File("a.svg"), dir.File("a.csv")};
  const std::string x(100000, 'x'), y(150000, 'y');
  auto set_of = [&paths](const std::string& bytes) {
    std::vector<ZelFileBytes> files;
    for (const std::string& p : paths) files.push_back({p, bytes});
    return files;
  };
  ASSERT_EQ(ZelWriteFilesTogether(set_of(x)), "");
  for (int round = 0; round < 20; ++round) {
    const pid_t child = fork();
    if (child == 0) {
      for (int n = 0;; ++n) (void)ZelWriteFilesTogether(set_of(n % 2 ? x : y));
    }
    usleep(static_cast<useconds_t>(2000 + 700 * round));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    for (const std::string& p : paths) {
      const std::string now = ReadFile(p);
      ASSERT_TRUE(now == x || now == y) << p << ": torn file of " << now.size() << " bytes";
    }
    const std::vector<std::string> listed = Listing(dir.path());
    ASSERT_LE(listed.size(), paths.size() + 1) << "round " << round;
  }
  ASSERT_EQ(ZelWriteFilesTogether(set_of(x)), "");
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"a.csv", "a.png", "a.svg"}));
}

TEST(FolderReplacement, TheFolderHoldsOneSetOfFilesWhateverHappens) {
  TempDir dir;
  const std::string record = dir.File("record");
  ASSERT_EQ(ZelReplaceFolder(record, {{"a.txt", "1"}, {"b.txt", "1"}}, OwnRecordFile), "");
  // A later set without b.txt leaves no b.txt of the earlier one behind.
  ASSERT_EQ(ZelReplaceFolder(record, {{"a.txt", "2"}}, OwnRecordFile), "");
  EXPECT_EQ(Listing(record), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(ReadFile(record + "/a.txt"), "2");
  // A set that cannot be written whole leaves the earlier one as it was.
  EXPECT_THAT(ZelReplaceFolder(record, {{"b.txt", "3"}, {"sub/a.txt", "3"}}, OwnRecordFile),
              HasSubstr("record/sub/a.txt: cannot create a file in its folder"));
  EXPECT_EQ(Listing(record), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(ReadFile(record + "/a.txt"), "2");
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"record"});
}

TEST(FolderReplacement, RefusesAFolderOfTheUsersAndFollowsLinks) {
  TempDir dir;
  const std::string mine = dir.File("mine");
  std::filesystem::create_directory(mine);
  WriteFile(mine + "/a.txt", "a record's");
  WriteFile(mine + "/notes.txt", "the user's");
  EXPECT_THAT(ZelReplaceFolder(mine, {{"a.txt", "new"}}, OwnRecordFile),
              HasSubstr("holds \"notes.txt\", which this program did not write there"));
  EXPECT_EQ(ReadFile(mine + "/a.txt"), "a record's");
  WriteFile(dir.File("file"), "x");
  EXPECT_THAT(ZelCheckReplaceableFolder(dir.File("file"), OwnRecordFile), HasSubstr("is not a folder"));
  EXPECT_THAT(ZelCheckReplaceableFolder("", OwnRecordFile), HasSubstr("an empty folder name"));

  // A link, also one whose target is not there yet, stays a link to the new folder.
  const std::string link = dir.File("link"), target = dir.File("target");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  for (const char* text : {"first", "second"}) {
    ASSERT_EQ(ZelReplaceFolder(link + "/", {{"a.txt", text}}, OwnRecordFile), "");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(target + "/a.txt"), text);
  }
}

TEST(FileExtension, IsTheLastDotsPartInLowerCase) {
  const std::pair<const char*, const char*> cases[] = {
      {"b.SVG", ".svg"}, {"dir.d/plot", ""}, {"a.tar.GZ", ".gz"}, {".hidden", ""}, {"x.", "."}};
  for (const auto& [path, ext] : cases) EXPECT_EQ(ZelFileExtension(path), ext) << path;
}

}  // namespace
