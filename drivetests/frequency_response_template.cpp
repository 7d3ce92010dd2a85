// The control template of the frequency response dialog: what to measure and the run on the
// left with what the measurement found below it, the Bode plot on the right, and Apply Notch
// beside OK.

#include "drivetests/frequency_response_dlg.h"
#include "host/zel_template_builder.h"

namespace dcservo {
namespace {

using K = ZelControlKind;

// A field without a parameter: its label, its edit and its unit as text.
void RangeField(ZelTemplateBuilder& b, const char* label, int edit, const char* unit, int row) {
  b.Add(0, K::Label, label, kFreqRangeBox, {row, 0});
  b.Add(edit, K::Edit, "", kFreqRangeBox, {row, 1});
  b.Add(0, K::Label, unit, kFreqRangeBox, {row, 2});
}

ZelDialogTemplate MakeTemplate() {
  ZelTemplateBuilder b(kFrequencyResponseTemplate, "Frequency Response",
                       kFrequencyResponseHelpContext);
  b.Column(kFreqLeftColumn, 0);
  b.Box(kFreqLoopBox, "Loop", kFreqLeftColumn);
  b.Add(kFreqLoop, K::DropDown, "", kFreqLoopBox, {0, 0, 1, 3});
  b.Box(kFreqRangeBox, "Stepped sine", kFreqLeftColumn);
  RangeField(b, "From", kFreqFrom, "Hz", 0);
  RangeField(b, "To", kFreqTo, "Hz", 1);
  RangeField(b, "Points", kFreqPoints, "", 2);
  RangeField(b, "Amplitude", kFreqAmplitude, "A", 3);
  b.Add(kFreqMeasure, K::Button, "&Measure", kFreqRangeBox, {4, 0});
  b.Add(kFreqStop, K::Button, "&Stop", kFreqRangeBox, {4, 1});
  // A row of its own: a refusal or what Apply Notch wrote runs long.
  b.Add(kFreqProgress, K::Edit, "", kFreqRangeBox, {5, 0, 1, 3}, kStyleReadOnly);
  b.Box(kFreqResultsBox, "Found", kFreqLeftColumn);
  // Read-only texts: the fit and the margins run to several lines each.
  b.Add(kFreqResults, K::Text, "", kFreqResultsBox, {0, 0, 3, 1}, kStyleReadOnly | kStyleWide);
  b.Add(kFreqMargins, K::Text, "", kFreqResultsBox, {3, 0, 2, 1}, kStyleReadOnly | kStyleWide);
  b.Box(kFreqPlotBox, "Bode plot: measured and model", 0, {0, 1});
  b.Add(kFreqMagnitude, K::Graph, "", kFreqPlotBox, {0, 0}, kStyleWide);
  b.Add(kFreqPhase, K::Graph, "", kFreqPlotBox, {1, 0}, kStyleWide);
  b.DialogButtons(kFreqButtons, 1, 2, kFreqHelp, 1);
  b.Add(kFreqApplyNotch, K::Button, "Apply &Notch", kFreqButtons, {0, 0});
  return b.Build();
}

// Built at the first look-up: most commands open no dialog.
const ZelDialogTemplate& Template() {
  static const ZelDialogTemplate tmpl = MakeTemplate();
  return tmpl;
}
const ZelTemplateRegistration kRegistration(kFrequencyResponseTemplate, Template);

}  // namespace
}  // namespace dcservo
