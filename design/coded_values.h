#pragma once
// Parameters that hold a code (`ControlMode` 1 is speed): the names a person may type
// instead of the number, and the name shown beside it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dcservo {

struct CodedValue {
  double code;
  std::string name;  // as typed: lower case, words joined by '-' ("speed", "notch")
};

// The codes of a coded parameter, empty for any other name.
std::vector<CodedValue> CodedValuesOf(std::string_view parameter);

// The code that `text` names (case, blanks and '_' do not matter), if any.
std::optional<double> CodeNamed(const std::vector<CodedValue>& codes, std::string_view text);

// The name of `code`, empty when it has none.
std::string NameOfCode(const std::vector<CodedValue>& codes, double code);

// "position, speed, current" for messages.
std::string ListCodeNames(const std::vector<CodedValue>& codes);

}  // namespace dcservo
