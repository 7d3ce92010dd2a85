// `filters --spectrum FILE` and `edit --spectrum FILE` read a speed test's JSON report: any
// text is refused as bad input naming the file, or gives a spectrum at the loop's rate.

#include "app/speed_report_reader.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr double kLoopPeriodS = 0.0005;
  try {
    const dcservo::MeasuredSpectrum m =
        SpeedTestSpectrumFromText(fuzz::AsText(data, size), "s.json", kLoopPeriodS);
    if (m.current.amplitude.size() != m.current.frequency_hz.size())
      fuzz::Fail("bins without their frequencies");
  } catch (const CommandError& e) {
    if (e.code != kExitBadInput) fuzz::Fail("a refusal is not bad input");
    if (std::string_view(e.what()).rfind("s.json: ", 0) != 0)
      fuzz::Fail("a refusal does not name the file");
  }
  return 0;
}
