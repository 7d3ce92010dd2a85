#include "app/speed_report_reader.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "host/zel_json_parse.h"

namespace {

using nlohmann::json;

// A number of the report at `place`, or bad input naming the file and the place.
double NumberAt(const json& j, const std::string& file, const std::string& place) {
  if (!j.is_number())
    throw CommandError(kExitBadInput, file + ": " + place + " is not a number");
  return j.get<double>();
}

// A yes or no of the report at `place`: missing reads no.
bool FlagAt(const json& j, const std::string& file, const std::string& place) {
  if (j.is_null()) return false;
  if (!j.is_boolean())
    throw CommandError(kExitBadInput, file + ": " + place + " is not true or false");
  return j.get<bool>();
}

}  // namespace

dcservo::MeasuredSpectrum SpeedTestSpectrumFromText(std::string_view text,
                                                    const std::string& file, double ts) {
  json report;
  if (std::string why = zel::ZelReadJson(text, report); !why.empty())
    throw CommandError(kExitBadInput,
                       file + ": not a `dcservo test speed --json` report: " + why);
  if (!report.is_object())
    throw CommandError(kExitBadInput, file + ": not JSON (a `dcservo test speed --json` report)");
  const auto spectrum = report.find("current_spectrum");
  if (spectrum == report.end() || !spectrum->is_object())
    throw CommandError(kExitBadInput, file + ": no current_spectrum (`dcservo test speed --json` "
                                             "gives it for a run that held a speed)");
  dcservo::MeasuredSpectrum m;
  m.current.resolution_hz =
      NumberAt(spectrum->value("resolution_hz", json()), file, "current_spectrum.resolution_hz");
  const json& amplitude = spectrum->value("amplitude_A", json());
  if (!(m.current.resolution_hz > 0.0) || !amplitude.is_array() || amplitude.size() < 2)
    throw CommandError(kExitBadInput, file + ": current_spectrum needs a resolution_hz above 0 "
                                             "and at least two amplitude_A bins");
  for (std::size_t k = 0; k < amplitude.size(); ++k) {
    m.current.amplitude.push_back(NumberAt(
        amplitude[k], file, "current_spectrum.amplitude_A[" + std::to_string(k) + "]"));
    m.current.frequency_hz.push_back(static_cast<double>(k) * m.current.resolution_hz);
  }
  if (!dcservo::AtLoopRate(m.current, ts)) {
    char why[320];
    std::snprintf(why, sizeof why,
                  "%s: the spectrum reaches %.0f Hz, not the speed loop's Nyquist frequency "
                  "%.0f Hz: its log was slower than the loop, and what rang above %.0f Hz reads "
                  "folded at a frequency where nothing rings (a profile of at most 2000 of the "
                  "loop's samples logs at its rate)",
                  file.c_str(), m.current.frequency_hz.back(), 0.5 / ts,
                  m.current.frequency_hz.back());
    throw CommandError(kExitBadInput, why);
  }
  const auto r = report.find("resonance");
  if (r != report.end() && r->is_object()) {
    m.resonance = dcservo::Resonance{
        NumberAt(r->value("frequency_hz", json()), file, "resonance.frequency_hz"),
        NumberAt(r->value("peak_db", json()), file, "resonance.peak_db"),
        NumberAt(r->value("loop_gain_db", json()), file, "resonance.loop_gain_db"),
        FlagAt(r->value("limits_loop", json()), file, "resonance.limits_loop")};
  }
  return m;
}

