#pragma once
// The record of a run that its test watches rather than logs (the supply and the inertia
// tests read their results from the program's variables): what each look at the run read,
// by the drive's time from the start, kept as a plot that no control shows. Its CSV and
// pictures, and its page in a commissioning record, are made as every test's plot is.

#include <memory>
#include <span>
#include <string>

#include "host/zel_graph.h"

class CZel_Setup;

namespace dcservo {

class WatchedRun {
 public:
  struct Channel {
    std::string name, unit;
    int axis = 1;  // 1 left, 2 right
    int style = 2;  // as a curve's: 0 points (a run of a look or two), 2 a line
  };
  // A new record of these channels after "Time [s]", from the drive's time now.
  void Start(const std::string& title, std::span<const Channel> channels);
  // One look: a value per channel, in the channels' order and units.
  void Take(std::span<const double> values);
  // The record as a plot; null before the first run.
  CGraphWindow* Graph() { return document_ ? &graph_ : nullptr; }

 private:
  std::unique_ptr<CGraphDocument> document_;
  CGraphWindow graph_;
  double start_s_ = 0.0;
};

// A live variable read from the drive, in the unit the setup shows it in; NaN (and nobody
// told) when the setup lacks it or the read fails: a look that misses a value does not end
// the run it watches.
double ReadShownVariable(CZel_Setup& setup, const char* name);
// The unit that the setup shows a variable in; empty for one it lacks.
std::string ShownVariableUnit(const CZel_Setup& setup, const char* name);

}  // namespace dcservo
