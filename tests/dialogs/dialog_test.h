#pragma once
// The dialog harness with two moves the dialog tests share: a list entry picked by its text,
// and the bundled drive afresh for the next case of a table.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/dialog_harness.h"

namespace testing_support {

template <class D>
class DialogTest : public DialogHarness<D> {
 protected:
  void Select(int id, const std::string& text) {
    D& dlg = *this->dlg_;
    int i = 0;
    while (i < dlg.ListGetCount(id) && dlg.ListGetText(id, i) != text) ++i;
    ASSERT_LT(i, dlg.ListGetCount(id)) << "no entry " << text;
    ASSERT_TRUE(dlg.UserSelect(id, i)) << dlg.LastRefusal();
  }
  void Reload(const std::vector<Value>& values = {}) {
    this->dlg_.reset();
    this->setup_ = LoadBundledSetup();
    for (const Value& v : values)
      ASSERT_TRUE(this->setup_->SetParameterValueInBaseUnit(v.name, v.base)) << v.name;
  }
};

}  // namespace testing_support
