#include "design/coded_values.h"

#include <cstdio>

#include "design/biquad_designer.h"
#include "host/zel_names.h"
#include "names/drive_names.h"

namespace dcservo {
namespace {

struct CodeTable {
  const char* parameter;
  std::vector<CodedValue> codes;
};

// The drive's enumerations; the filter types and places come from the filter designer.
const std::vector<CodeTable>& Enumerations() {
  static const std::vector<CodeTable> tables = {
      {param::ControlMode, {{0, "position"}, {1, "speed"}, {2, "current"}}},
      {param::PositionControlType, {{0, "without-speed-loop"}, {1, "with-speed-loop"}}},
      {param::SensorsConfiguration,
       {{0, "motor-encoder"}, {1, "motor-tacho"}, {2, "motor-tacho-load-encoder"}}},
      {param::TransmissionType, {{0, "rotary"}, {1, "linear"}}},
  };
  return tables;
}

std::string Token(std::string_view text) {
  std::string out;
  for (char c : zel::FoldName(text)) out += c == ' ' || c == '_' ? '-' : c;
  return out;
}

// "BQFilterType2" is the type of filter 2; the number is 1 to kBiquadFilterCount.
bool IsNumbered(std::string_view parameter, const char* stem) {
  const std::size_t n = std::char_traits<char>::length(stem);
  if (parameter.size() != n + 1 || !zel::NamesEqual(parameter.substr(0, n), stem)) return false;
  const char digit = parameter.back();
  return digit >= '1' && digit < '1' + kBiquadFilterCount;
}

std::vector<CodedValue> FilterTypes() {
  CBiquadDesigner designer;
  std::vector<CodedValue> codes;
  for (int code = 0; code < kBiquadTypeCount; ++code)
    codes.push_back({static_cast<double>(code), Token(designer.TypeName(code))});
  return codes;
}

std::vector<CodedValue> FilterPlaces() {
  std::vector<CodedValue> codes;
  for (int place = 0; place < 3; ++place)
    codes.push_back({static_cast<double>(place), Token(FilterPlaceName(place))});
  return codes;
}

}  // namespace

std::vector<CodedValue> CodedValuesOf(std::string_view parameter) {
  for (const CodeTable& table : Enumerations()) {
    if (zel::NamesEqual(table.parameter, parameter)) return table.codes;
  }
  if (IsNumbered(parameter, "BQFilterType")) return FilterTypes();
  if (IsNumbered(parameter, "BQFilterLocation")) return FilterPlaces();
  return {};
}

std::optional<double> CodeNamed(const std::vector<CodedValue>& codes, std::string_view text) {
  const std::string wanted = Token(text);
  for (const CodedValue& c : codes) {
    if (c.name == wanted) return c.code;
  }
  return std::nullopt;
}

std::string NameOfCode(const std::vector<CodedValue>& codes, double code) {
  for (const CodedValue& c : codes) {
    if (c.code == code) return c.name;
  }
  return {};
}

std::string ListCodeNames(const std::vector<CodedValue>& codes) {
  std::string out;
  for (const CodedValue& c : codes) {
    char number[32];
    std::snprintf(number, sizeof number, "%g", c.code);
    out += (out.empty() ? "" : ", ") + c.name + " (" + number + ")";
  }
  return out;
}

}  // namespace dcservo
