#pragma once
// One harness for any dialog of the plug-in: the headless front end installed, the bundled
// drive loaded, the dialog built and initialised as a front end would, and short reads of the
// state of its controls and of the setup.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "host/zel_dialog_registry.h"
#include "host/zel_headless.h"
#include "tests/support/test_setups.h"

namespace testing_support {

// Stands a factory in for a registered dialog while it lives; the old one comes back after.
class ScopedDialogOverride {
 public:
  ScopedDialogOverride(std::string name, ZelDialogFactory factory)
      : name_(std::move(name)), old_(ZelReplaceDialog(name_, std::move(factory))) {}
  ~ScopedDialogOverride() { ZelReplaceDialog(name_, std::move(old_)); }
  ScopedDialogOverride(const ScopedDialogOverride&) = delete;
  ScopedDialogOverride& operator=(const ScopedDialogOverride&) = delete;

 private:
  std::string name_;
  ZelDialogFactory old_;
};

// A parameter's value in base units, as a test puts it into the setup.
struct Value {
  const char* name;
  double base;
};

template <class D>
class DialogHarness : public ::testing::Test {
 protected:
  DialogHarness() : installed_(ui_), setup_(LoadBundledSetup()) {}

  // Built and initialised as it is before it shows; the backend's script is not run.
  template <class... Args>
  D& Open(Args&&... args) {
    dlg_ = std::make_unique<D>(*setup_, std::forward<Args>(args)...);
    dlg_->ModalInit();
    return *dlg_;
  }
  void Put(std::initializer_list<Value> values) {
    for (const Value& v : values) ASSERT_TRUE(setup_->SetParameterValueInBaseUnit(v.name, v.base));
  }
  double Get(const char* name) const { return setup_->GetParameterValueInBaseUnit(name); }
  double GetInternal(const char* name) const {
    return setup_->GetParameterValueInInternalUnit(name);
  }
  const ZelControlState& State(int id) const { return dlg_->GetControlState(id); }
  bool Enabled(int id) const { return State(id).enabled; }
  bool Shown(int id) const { return State(id).shown; }
  std::string Text(int id) const { return State(id).text; }
  void Click(int id) { ASSERT_TRUE(dlg_->UserClick(id)) << dlg_->LastRefusal(); }
  void Type(int id, const std::string& text) {
    ASSERT_TRUE(dlg_->UserEdit(id, text)) << dlg_->LastRefusal();
  }

  ZelHeadlessBackend ui_;
  ZelScopedUiBackend installed_;
  std::unique_ptr<CZel_Setup> setup_;
  std::unique_ptr<D> dlg_;
};

}  // namespace testing_support
