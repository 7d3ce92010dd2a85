#pragma once
// Setups for tests: the bundled drive with the plug-in's scales attached, and small setups
// built from a list of parameters.

#include <initializer_list>
#include <map>
#include <memory>
#include <string>

#include "derive/pipelines.h"
#include "host/zel_setup.h"

namespace testing_support {

std::string BundledSetupPath();
std::string BinaryDir();

// A setup file, or the bundled drive, scales attached as a host attaches the plug-in's
// exports; a file that does not load throws with the reason.
std::unique_ptr<CZel_Setup> LoadSetupWithScales(const std::string& path);
std::unique_ptr<CZel_Setup> LoadBundledSetup();
// The bundled drive without these parameters: a drive that lacks an optional feature.
std::unique_ptr<CZel_Setup> LoadBundledSetupWithout(std::initializer_list<const char*> names);

struct Param {
  const char* name;
  double value;
  const char* unit = "";
  bool internal = false;
  ZelStorageType type = ZelStorageType::Double;
};

// A setup holding only these parameters, with the plug-in's scales attached.
std::unique_ptr<CZel_Setup> MakeSetup(std::initializer_list<Param> params);

// The timing and sensor parameters that every scale reads, for the drive of the examples:
// 40 MHz, PWMPER 1000, CLPER 1, SLPER 10, 500-line encoder on the motor, 48 V, 10 A peak.
std::unique_ptr<CZel_Setup> MakeTimingSetup(std::initializer_list<Param> extra = {});

// Adds or overwrites parameters.
void Put(CZel_Setup& setup, std::initializer_list<Param> params);

// A parameter's value in base units, set (the test fails where the setup refuses it) or read.
void SetBase(CZel_Setup& setup, const std::string& name, double value);
double BaseValue(const CZel_Setup& setup, const std::string& name);

// Runs one step of a pipeline and expects it done.
void RunOk(CZel_Setup& setup, const char* quantity, dcservo::Direction direction);

// Every parameter's internal value by name: what a pass may or may not have changed.
std::map<std::string, double> Snapshot(const CZel_Setup& setup);

// A scratch folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);

}  // namespace testing_support
