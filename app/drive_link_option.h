#pragma once
// `--drive ADDRESS` on the commands that talk to a drive: the drive at the other end of a
// Modbus link (docs/drive-link.md) instead of the simulated drive in this process.

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

class CZel_DriveLink;
class CZel_Setup;

struct DriveLinkOption {
  std::string address;

  void AddTo(CLI::App& cmd);
  bool Remote() const { return !address.empty(); }
  // The drive at the address, null without one. Refused (CommandError) before anything is
  // written to the drive: an address that is not one (exit 2), no drive answering, another
  // client holding it, or a drive other than the setup's (exit 1).
  std::shared_ptr<CZel_DriveLink> Open(const CZel_Setup& setup) const;
  // Faults and actions belong to the simulated drive; a drive on a link takes them from
  // `dcservo simdrive`.
  void RefuseConditions(const std::vector<std::string>& faults,
                        const std::vector<std::string>& acts = {}) const;
};
