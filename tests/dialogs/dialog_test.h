#pragma once
// The dialog harness with the moves the dialog tests share: a list entry picked by its text,
// the bundled drive afresh for the next case of a table, and checks of many values or controls
// at once that name every one that is off, at the line that asks.

#include <gtest/gtest.h>

#include <sstream>
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
  ::testing::AssertionResult Holds(const std::vector<Value>& values) const {
    std::ostringstream wrong;
    for (const Value& v : values)
      if (this->Get(v.name) != v.base) wrong << v.name << " is " << this->Get(v.name) << ", not " << v.base << "; ";
    return Verdict(wrong);
  }
  // A click that puts up one message box with `part` in its text, or none where `part` is "".
  ::testing::AssertionResult ClickTells(int id, const std::string& part) {
    const std::size_t before = this->ui_.Messages().size();
    this->Click(id);
    const auto& boxes = this->ui_.Messages();
    if (boxes.size() != before + !part.empty())
      return ::testing::AssertionFailure() << boxes.size() - before << " message boxes";
    if (!part.empty() && boxes.back().text.find(part) == std::string::npos)
      return ::testing::AssertionFailure() << "the message: " << boxes.back().text;
    return ::testing::AssertionSuccess();
  }
  ::testing::AssertionResult AllEnabled(const std::vector<int>& ids, bool enabled = true) const {
    return Each(ids, enabled, [this](int id) { return this->Enabled(id); }, "enabled");
  }
  ::testing::AssertionResult AllShown(const std::vector<int>& ids, bool shown = true) const {
    return Each(ids, shown, [this](int id) { return this->Shown(id); }, "shown");
  }

 private:
  template <class F>
  static ::testing::AssertionResult Each(const std::vector<int>& ids, bool want, F is, const char* what) {
    std::ostringstream wrong;
    for (int id : ids)
      if (is(id) != want) wrong << "control " << id << (want ? " not " : " ") << what << "; ";
    return Verdict(wrong);
  }
  static ::testing::AssertionResult Verdict(const std::ostringstream& wrong) {
    if (wrong.str().empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << wrong.str();
  }
};

}  // namespace testing_support
