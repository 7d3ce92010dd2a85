#pragma once
// The motor editor of a setup dialog: a database selector, the list of its motors, a name
// field and the "Save to User Database" and "Delete" buttons. Picking a motor writes its
// data into the setup and tells the dialog, parameter by parameter, as a user edit would.
// The dialog routes the controls' commands to the On* calls.

#include <optional>

#include "host/zel_motor_database.h"

class CZel_EditSetupDlg;

struct ZelMotorEditorIds {
  int database_list = 0;
  int motor_list = 0;
  int name_edit = 0;
  int save_button = 0;
  int delete_button = 0;
};

// The database selector's entries, in order.
inline constexpr const char* kZelMotorDatabaseNames[] = {"CATALOGUE", "USER"};

class ZelMotorEditor {
 public:
  // Reads the database (files it had to skip are reported, by name) and fills the lists.
  void Initialize(CZel_EditSetupDlg& dialog, const ZelMotorEditorIds& ids,
                  ZelMotorDatabase database);
  bool IsInitialized() const { return dialog_ != nullptr; }

  void OnDatabaseSelected();
  void OnMotorSelected();
  void OnSave();
  void OnDelete();

  const ZelMotorDatabase& Database() const { return *database_; }

 private:
  ZelMotorSource SelectedSource() const;
  const ZelMotorEntry* SelectedMotor() const;
  void FillMotorList(const std::string& select);
  void RefreshButtons();
  void Tell(const std::string& text);

  CZel_EditSetupDlg* dialog_ = nullptr;
  ZelMotorEditorIds ids_;
  std::optional<ZelMotorDatabase> database_;
};
