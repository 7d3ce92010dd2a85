#pragma once
// Reading the parameters that a scale, a loop period or the drive model rests on, with the
// caller choosing who hears of a missing one.

#include <string>
#include <string_view>
#include <vector>

#include "host/zel_setup.h"

namespace dcservo {

// A reporting reader tells the host of a missing parameter, as the setup's own lookup does:
// for callers that need the value and whose user should hear of its absence. A quiet reader
// tells nobody and keeps the names it missed, so that a question ("what model does this setup
// give?") comes back with its reason and the caller that talks to the user decides what to
// print. Either way a missing parameter reads 0, as the host's lookup has it.
class ParameterReader {
 public:
  static ParameterReader Reporting(CZel_Setup& setup) { return ParameterReader(setup, true); }
  static ParameterReader Quiet(CZel_Setup& setup) { return ParameterReader(setup, false); }

  CZel_Setup& Setup() const { return setup_; }
  CZel_Parameter* Find(std::string_view name) const;
  double BaseValue(std::string_view name) const;
  // The parameters that a quiet reader did not find, each once, in the order it looked.
  const std::vector<std::string>& Missing() const { return missing_; }

 private:
  ParameterReader(CZel_Setup& setup, bool reports) : setup_(setup), reports_(reports) {}

  CZel_Setup& setup_;
  bool reports_;
  mutable std::vector<std::string> missing_;
};

}  // namespace dcservo
