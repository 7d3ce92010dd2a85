#include "app/speed_report_option.h"

#include "app/speed_report_reader.h"
#include "host/zel_file.h"
#include "names/drive_names.h"

namespace {

dcservo::MeasuredSpectrum ReadMeasuredSpectrum(const std::string& file, double ts) {
  std::string text;
  if (std::string why = ZelReadFileLimited(file, kZelMaxInputFileBytes, text); !why.empty())
    throw CommandError(kExitBadInput, why);
  return SpeedTestSpectrumFromText(text, file, ts);
}

}  // namespace

void AddSpectrumOption(CLI::App& cmd, std::string& file, const std::string& what) {
  cmd.add_option("--spectrum", file,
                 "A `dcservo test speed --json` report logged at the speed loop's rate: its "
                 "current spectrum and resonance, " + what)
      ->check(FileName());
}

dcservo::MeasuredSpectrum TakeSpeedTestSpectrum(const std::string& file, CZel_Setup& setup) {
  dcservo::MeasuredSpectrum m =
      ReadMeasuredSpectrum(file, setup.GetParameterValueInBaseUnit(dcservo::param::Ts_S));
  dcservo::RememberMeasuredSpectrum(setup, m.current, m.resonance);
  return m;
}
