// The control template of the filters dialog: the three filters stacked on the left, their
// frequency response on the right, and the notch for a measured resonance beside OK. The second frequency of a lead-lag filter takes the
// place of its Q: only one of the two shows at a time.

#include "dialogs/filters_dlg.h"
#include "host/zel_template_builder.h"

namespace dcservo {
namespace {

using K = ZelControlKind;

enum : int {
  kFiltersColumn = 3480,
  kButtonRow = 3481,
};

void FilterBox(ZelTemplateBuilder& b, const FilterControls& c, int number) {
  const FilterNames names = FilterParameterNames(number);
  b.Box(c.box, "Filter " + std::to_string(number), kFiltersColumn);
  b.ParameterCheck(names.on, c.on_off, "Off", c.box, {0, 0});
  b.Add(c.location_label, K::Label, "Location", c.box, {1, 0});
  b.ParameterList(names.location, c.location, c.box, {1, 1, 1, 2});
  b.Add(c.type_label, K::Label, "Type", c.box, {2, 0});
  b.ParameterList(names.type, c.type, c.box, {2, 1, 1, 2});
  b.ParameterField(names.f1, "Frequency", c.frequency, c.frequency_unit, c.box, 3, 0,
                   c.frequency_label);
  b.Add(c.q_label, K::Label, "Q", c.box, {4, 0});
  b.ParameterEdit(names.q, c.q, c.box, {4, 1});
  b.Add(c.second_frequency, K::Edit, "", c.box, {4, 1}, kStyleHidden).Binds(names.f2);
  b.Add(c.second_frequency_unit, K::DropDown, "", c.box, {4, 2}, kStyleHidden).Binds(names.f2);
}

ZelDialogTemplate MakeTemplate() {
  ZelTemplateBuilder b(kFiltersTemplate, "Filters");
  b.Column(kFiltersColumn, 0);
  for (int i = 0; i < kBiquadFilterCount; ++i) FilterBox(b, kFilterControls[i], i + 1);
  b.Box(kBodeBox, "Frequency response as the drive runs the filters", 0, {0, 1});
  b.Add(kBodeMagnitude, K::Graph, "", kBodeBox, {0, 0}, kStyleWide);
  b.Add(kBodePhase, K::Graph, "", kBodeBox, {1, 0}, kStyleWide);
  // Read-only text rather than a label: the margins run to several lines, which a label in a
  // grid cell under two plots is not given the height for.
  b.Add(kBodeStatus, K::Text, "", kBodeBox, {2, 0}, kStyleReadOnly | kStyleWide);
  b.DialogButtons(kButtonRow, 1, 2, 0, 2);
  // Beside OK rather than under the plots: the dialog has no height to spare at 1366 x 768.
  b.Add(kApplyNotch, K::Button, "Apply Notch", kButtonRow, {0, 0});
  b.Add(kFrequencyResponseButton, K::Button, "Frequency Response...", kButtonRow, {0, 1});
  return b.Build();
}

// Built at the first look-up: most commands open no dialog.
const ZelDialogTemplate& Template() {
  static const ZelDialogTemplate tmpl = MakeTemplate();
  return tmpl;
}
const ZelTemplateRegistration kRegistration(kFiltersTemplate, Template);

}  // namespace
}  // namespace dcservo
