// Fields declared once, in the template: the builder places a field and names its parameter,
// and the dialog base binds it when the dialog is built, each control in the role it plays.

#include "host/zel_template_builder.h"
#include "tests/host/test_dialog_fixture.h"

namespace {

using namespace dialog_testing;
using Role = CZel_EditSetupDlg::Role;

enum : int {
  kBox = 200, kVdcField = 202, kVdcFieldUnit = 203, kLimitField = 204, kLimitLabel = 205,
  kCheck = 206, kLoneEdit = 207, kPlainEdit = 208, kOtherList = 209, kReadOnly = 210,
  kReadOnlyUnit = 211, kMissingEdit = 212, kModeList = 213, kGainEdit = 214,
  kFilterTypeList = 215,
};

ZelDialogTemplate FieldsTemplate(bool with_missing) {
  using K = ZelControlKind;
  ZelTemplateBuilder b(9101, "Fields");
  b.Box(kBox, "Fields", 0);
  b.ParameterField("Vdc", "Power supply", kVdcField, kVdcFieldUnit, kBox, 0);
  b.ParameterField("IlimPS", "Current limit", kLimitField, 0, kBox, 1, 0, kLimitLabel);
  b.ParameterCheck("isOverCurrent", kCheck, "Over current", kBox, {2, 0});
  b.ParameterEdit("Kp_C_scl", kLoneEdit, kBox, {3, 1});
  // An unbound edit before a list of its own: the list is no unit selector of the edit.
  b.Add(kPlainEdit, K::Edit, "", kBox, {4, 1});
  b.Add(kOtherList, K::DropDown, "", kBox, {4, 2});
  b.Add(0, K::Label, "Read back", kBox, {5, 0});
  b.Add(kReadOnly, K::Edit, "", kBox, {5, 1}, kStyleReadOnly).Binds("Vdc");
  b.Add(kReadOnlyUnit, K::DropDown, "", kBox, {5, 2}).Binds("Vdc");
  b.ParameterList("ControlMode", kModeList, kBox, {6, 1});
  // A list after an edit of another parameter is that parameter's switch, not the edit's unit.
  b.ParameterEdit("Kp_C_scl", kGainEdit, kBox, {7, 1});
  b.ParameterList("FilterType", kFilterTypeList, kBox, {7, 2});
  if (with_missing) b.ParameterField("NoSuchParameter", "Missing", kMissingEdit, 0, kBox, 8);
  return b.Build();
}

class FieldsDialog : public CZel_EditSetupDlg {
 public:
  FieldsDialog(CZel_Setup& setup, const ZelDialogTemplate& tmpl)
      : CZel_EditSetupDlg(setup, tmpl) {}
};

class TemplateFields : public HeadlessTest {
 protected:
  std::unique_ptr<CZel_Setup> setup_ = SmallSetup();
};

TEST_F(TemplateFields, EachDeclaredControlIsBoundInItsRole) {
  const FieldsDialog dlg(*setup_, FieldsTemplate(false));
  struct Case { int id; const char* parameter; Role role; };
  const Case cases[] = {
      {kVdcField, "Vdc", Role::Edit},           {kVdcFieldUnit, "Vdc", Role::Unit},
      {kLimitField, "IlimPS", Role::Edit},      {kLimitLabel, "", Role::None},
      {kCheck, "isOverCurrent", Role::Check},   {kLoneEdit, "Kp_C_scl", Role::Edit},
      {kPlainEdit, "", Role::None},             {kOtherList, "", Role::None},
      {kReadOnly, "Vdc", Role::Edit},           {kReadOnlyUnit, "Vdc", Role::Unit},
      {kModeList, "ControlMode", Role::List},   {kGainEdit, "Kp_C_scl", Role::Edit},
      {kFilterTypeList, "FilterType", Role::List},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    const CZel_EditSetupDlg::ControlBinding b = dlg.GetControlBinding(c.id);
    EXPECT_EQ(b.parameter, c.parameter);
    EXPECT_EQ(b.role, c.role);
  }
}

TEST_F(TemplateFields, OnlyTheLabelsGivenAnIdTakeOne) {
  const ZelDialogTemplate t = FieldsTemplate(false);
  std::vector<std::string> labels_with_ids;
  for (const ZelControlDef& c : t.controls) {
    if (c.kind == ZelControlKind::Label && c.id > 0) labels_with_ids.push_back(c.caption);
  }
  EXPECT_THAT(labels_with_ids, ElementsAre("Current limit"));
}

TEST_F(TemplateFields, ADeclaredParameterTheSetupLacksIsReportedAndLeftUnbound) {
  ZelCollectErrors errors;
  const FieldsDialog dlg(*setup_, FieldsTemplate(true));
  EXPECT_EQ(dlg.GetControlBinding(kMissingEdit).role, Role::None);
  EXPECT_EQ(dlg.GetControlBinding(kVdcField).role, Role::Edit);
  EXPECT_THAT(errors.Messages(), ElementsAre(HasSubstr("NoSuchParameter")));
}

TEST_F(TemplateFields, ADeclaredFieldShowsAndStoresItsValue) {
  FieldsDialog dlg(*setup_, FieldsTemplate(false));
  dlg.ModalInit();
  EXPECT_EQ(dlg.GetControlState(kVdcField).text, "48");
  EXPECT_EQ(dlg.GetControlState(kReadOnly).text, "48");
  ASSERT_TRUE(dlg.UserEdit(kVdcField, "24"));
  EXPECT_DOUBLE_EQ(setup_->GetParameterValueInBaseUnit("Vdc"), 24.0);
  EXPECT_EQ(dlg.GetControlState(kReadOnly).text, "24");
}

}  // namespace
