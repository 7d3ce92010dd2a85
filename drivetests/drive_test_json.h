#pragma once
// One run of a drive test as JSON, in the one shape that every `test --json` and the
// commissioning record give it.

#include <optional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "design/drive_model.h"
#include "design/resonance.h"
#include "design/step_response.h"
#include "drivetests/diagnosis.h"
#include "drivetests/drive_test_targets.h"
#include "drivetests/my_test_dlg.h"
#include "drivetests/tuning_figures.h"

namespace dcservo {

// The verdict words of every record and test JSON. An earlier version wrote "succeeded".
inline constexpr char kVerdictPassed[] = "passed";
inline constexpr char kVerdictFailed[] = "failed";
// Whether a verdict read from a record, of this version or an earlier one, says passed.
bool VerdictPassed(const nlohmann::ordered_json& verdict);
// The verdict word of a run that passed or failed.
const char* VerdictWord(bool passed);

// A step's figures as every JSON of the tests writes them; null when there are none.
nlohmann::ordered_json StepFiguresJson(const std::optional<StepFigures>& figures);

// A loop's stability margins; null when the model could not be built.
nlohmann::ordered_json MarginsJson(const std::optional<LoopMargins>& margins);
// A tracking run's figures under the names that every output uses: `rms_error`,
// `peak_error` (in the run's unit), `overshoot_pct`, `settling_time_s` (after the first ramp;
// null when it never settles), `settling_time_second_ramp_s`, and `cycle` and
// `deviation_from_prediction_rms` where the figures have them. A settling shorter than the
// scope's sample is null too, with its bound under `settling_time_under_s` or
// `settling_time_second_ramp_under_s`.
nlohmann::ordered_json TrackingFiguresJson(const CycleFigures& figures);

// A spectrum as `resolution_hz` and `amplitude_A` (RMS per bin from 0 Hz); null without one.
nlohmann::ordered_json SpectrumJson(const std::optional<Spectrum>& spectrum);
// A resonance as `frequency_hz`, `peak_db`, `loop_gain_db`, `limits_loop`, `ring_A`; null
// without one.
nlohmann::ordered_json ResonanceJson(const std::optional<Resonance>& resonance);

// The cause of a failure and what to do, as every JSON of the tests writes them; null when
// it cannot be told.
nlohmann::ordered_json DiagnosisJson(const Diagnosis* diagnosis);

// One run of any test in the one shape that every `test --json` gives: `verdict`,
// `failure`, `diagnosis`, `inputs`, `gains`, `results`, `identified`, `figures` (`measured`,
// `predicted`), `targets` and `warnings`. `failure` is empty for a run that succeeded.
nlohmann::ordered_json TestRunJson(const TestRunReport& run, const std::string& failure,
                                   const Diagnosis* diagnosis);

// Each figure against its target, as every JSON of the tests writes them.
nlohmann::ordered_json TargetsJson(const std::vector<TargetCheck>& checks);

}  // namespace dcservo
