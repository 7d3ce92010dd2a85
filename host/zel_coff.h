#pragma once
// A compiled test program as the host holds it: its name and the image of its variables.
// Values written before the program runs go into the image and travel with ExecuteCode;
// while the run that the image was started with is loaded, reads and writes reach the drive.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/zel_comm.h"

class CZel_CoffFormat {
 public:
  CZel_CoffFormat() = default;
  explicit CZel_CoffFormat(std::string path) : path_(std::move(path)) {}

  void SetPathName(std::string path) { path_ = std::move(path); }
  const std::string& GetPathName() const { return path_; }

  // Loads the program that the path names (its file name without the extension); the
  // attached drive supplies its symbols. 1 when loaded, else 0 with the reason in
  // CZel_Comm::GetLastErrorText().
  int ReadCoff();
  bool IsLoaded() const { return loaded_; }
  const std::string& GetProgramName() const { return program_; }

  const std::vector<ZelProgramVariable>& GetVariables() const { return image_; }
  bool HasVariable(std::string_view name) const { return Find(name) != nullptr; }

  // The program's name in a path: "dir/Name.out" gives "Name".
  static std::string ProgramNameOfPath(std::string_view path);

 private:
  friend class CZel_Comm;
  // The run that this image was started with is still the one on the drive, so reads and
  // writes go there.
  bool RunIsLoaded(const CZel_DriveLink* link) const {
    return link && run_ != 0 && link->LoadedRun() == run_;
  }
  ZelProgramVariable* Find(std::string_view name);
  const ZelProgramVariable* Find(std::string_view name) const;

  std::string path_;
  std::string program_;
  bool loaded_ = false;
  std::vector<ZelProgramVariable> image_;
  std::uint64_t run_ = 0;  // the drive's run that this image was started with
};
