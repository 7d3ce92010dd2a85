#include "host/zel_motor_editor.h"

#include "host/zel_dialog_setup.h"
#include "host/zel_errors.h"
#include "host/zel_names.h"

void ZelMotorEditor::Initialize(CZel_EditSetupDlg& dialog, const ZelMotorEditorIds& ids,
                                ZelMotorDatabase database) {
  dialog_ = &dialog;
  ids_ = ids;
  database_.emplace(std::move(database));
  dialog_->ListResetContent(ids_.database_list);
  for (const char* name : kZelMotorDatabaseNames) dialog_->ListAddString(ids_.database_list, name);
  dialog_->ListSetCurSel(ids_.database_list, 0);
  FillMotorList({});
}

ZelMotorSource ZelMotorEditor::SelectedSource() const {
  return dialog_->ListGetCurSel(ids_.database_list) == 1 ? ZelMotorSource::User
                                                         : ZelMotorSource::Catalogue;
}

const ZelMotorEntry* ZelMotorEditor::SelectedMotor() const {
  const int index = dialog_->ListGetCurSel(ids_.motor_list);
  if (index < 0) return nullptr;
  const ZelMotorEntry* m = database_->Find(dialog_->ListGetText(ids_.motor_list, index));
  return m && m->source == SelectedSource() ? m : nullptr;
}

void ZelMotorEditor::FillMotorList(const std::string& select) {
  dialog_->ListResetContent(ids_.motor_list);
  int selected = -1;
  for (const ZelMotorEntry& m : database_->Motors()) {
    if (m.source != SelectedSource()) continue;
    const int index = dialog_->ListAddString(ids_.motor_list, m.data.name);
    if (!select.empty() && zel::NamesEqual(m.data.name, select)) selected = index;
  }
  dialog_->ListSetCurSel(ids_.motor_list, selected);
  RefreshButtons();
}

void ZelMotorEditor::RefreshButtons() {
  const bool user = SelectedSource() == ZelMotorSource::User;
  dialog_->EnableChild(ids_.save_button, user);
  dialog_->EnableChild(ids_.delete_button, user && SelectedMotor() != nullptr);
  dialog_->SetChildTooltip(ids_.save_button,
                           user ? "" : "Catalogue motors are read-only: select USER to save.");
}

void ZelMotorEditor::Tell(const std::string& text) {
  dialog_->MessageBox(text, {}, kMbOk | kMbIconWarning);
}

void ZelMotorEditor::OnDatabaseSelected() { FillMotorList({}); }

void ZelMotorEditor::OnMotorSelected() {
  const ZelMotorEntry* m = SelectedMotor();
  RefreshButtons();
  if (!m) return;
  dialog_->SetChildText(ids_.name_edit, m->data.name);
  std::vector<std::string> written;
  if (std::string why = ZelApplyMotorToSetup(dialog_->GetSetup(), m->data, &written);
      !why.empty()) {
    Tell("The motor \"" + m->data.name + "\" was not applied: " + why + ".");
    return;
  }
  // The dialog's rules run as after a user edit of each value.
  for (const std::string& name : written) dialog_->OnChangedParameterValue(name);
  dialog_->RefreshAllParameters(0);
  dialog_->UpdateData(0);
}

void ZelMotorEditor::OnSave() {
  const std::string name = dialog_->GetChildText(ids_.name_edit);
  if (std::string why = ZelCheckMotorName(name); !why.empty()) {
    Tell("The motor was not saved: " + why + ".");
    return;
  }
  const ZelMotorEntry* existing = database_->Find(name);
  if (existing && existing->source == ZelMotorSource::User &&
      dialog_->MessageBox("Replace the user motor \"" + existing->data.name + "\"?", {},
                          kMbYesNo | kMbIconQuestion) != kIdYes)
    return;
  if (std::string why = database_->SaveUserMotor(ZelMotorFromSetup(dialog_->GetSetup(), name));
      !why.empty()) {
    Tell("The motor was not saved: " + why + ".");
    return;
  }
  FillMotorList(name);
}

void ZelMotorEditor::OnDelete() {
  const ZelMotorEntry* m = SelectedMotor();
  if (!m) return;
  const std::string name = m->data.name;
  if (dialog_->MessageBox("Delete the motor \"" + name + "\" from the user database?", {},
                          kMbYesNo | kMbIconQuestion) != kIdYes)
    return;
  if (std::string why = database_->DeleteUserMotor(name); !why.empty()) {
    Tell("The motor was not deleted: " + why + ".");
    return;
  }
  FillMotorList({});
}
