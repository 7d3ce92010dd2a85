#include "app/command.h"

std::vector<std::unique_ptr<Command>> MakeCommands() {
  std::vector<std::unique_ptr<Command>> commands;
  commands.push_back(MakeEditCommand());
  commands.push_back(MakeComputeCommand());
  commands.push_back(MakeChipCommand());
  commands.push_back(MakeSyncCommand());
  commands.push_back(MakeScaleCommand());
  commands.push_back(MakeShowCommand());
  commands.push_back(MakeDiffCommand());
  commands.push_back(MakeUnitsCommand());
  commands.push_back(MakeParamsCommand());
  commands.push_back(MakeTuneCommand());
  commands.push_back(MakeFiltersCommand());
  commands.push_back(MakeDriveCommand());
  commands.push_back(MakeMotorsCommand());
  commands.push_back(MakeTestCommand());
  commands.push_back(MakeCommissionCommand());
  commands.push_back(MakeSimdriveCommand());
  return commands;
}
