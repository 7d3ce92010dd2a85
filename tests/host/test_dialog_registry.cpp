// Registering templates and dialogs: a template with problems or a taken id is refused with
// a report that names it, a dialog name is taken once, and an override gives the old back.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/zel_dialog.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_errors.h"
#include "host/zel_template_builder.h"
#include "tests/support/dialog_harness.h"

namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

ZelDialogTemplate Sound(unsigned id) {
  return ZelTemplateBuilder(id, "Sound")
      .Box(10, "Box", 0)
      .Field(11, "Value", 12, 13, 10, 0)
      .DialogButtons(20, 1, 1)
      .Build();
}

TEST(TemplateRegistry, RefusesATakenIdAtOnceAndATemplateWithProblemsWhenFirstLookedUp) {
  static const ZelDialogTemplate first = Sound(9701), again = Sound(9701);
  static ZelDialogTemplate broken = Sound(9702);
  broken.controls.push_back({12, ZelControlKind::Button, "", 10});
  ZelCollectErrors errors;
  EXPECT_TRUE(ZelRegisterTemplate(&first));
  EXPECT_FALSE(ZelRegisterTemplate(&again));
  EXPECT_TRUE(ZelRegisterTemplate(&broken));
  EXPECT_THAT(errors.Messages(),
              ElementsAre("template 9701 (\"Sound\") is refused: its id is taken"));
  EXPECT_EQ(ZelFindTemplate(9701), &first);
  EXPECT_EQ(ZelFindTemplate(9702), nullptr);
  EXPECT_EQ(ZelFindTemplate(9702), nullptr);
  EXPECT_THAT(ZelRegisteredTemplates(), AllOf(Contains(&first), Not(Contains(&broken))));
  // Told once, however often it is asked for.
  EXPECT_THAT(errors.Messages(),
              ElementsAre("template 9701 (\"Sound\") is refused: its id is taken",
                          "template 9702 (\"Sound\") is refused: control 12 appears twice"));
}

// Templates registered by the function that builds them: built once, at the first look-up,
// and judged then like any other; the id they were registered under must be the one they carry.
int lazy_builds = 0;
const ZelDialogTemplate& LazySound() {
  ++lazy_builds;
  static const ZelDialogTemplate tmpl = Sound(9711);
  return tmpl;
}
const ZelDialogTemplate& LazyElsewhere() {
  static const ZelDialogTemplate tmpl = Sound(9713);
  return tmpl;
}

TEST(TemplateRegistry, ABuiltOnDemandTemplateIsBuiltAtItsFirstLookUpAndCheckedThen) {
  ZelCollectErrors errors;
  EXPECT_TRUE(ZelRegisterTemplate(9711, LazySound));
  EXPECT_TRUE(ZelRegisterTemplate(9712, LazyElsewhere));
  EXPECT_FALSE(ZelRegisterTemplate(9711, LazySound));
  EXPECT_FALSE(ZelRegisterTemplate(9714, nullptr));
  EXPECT_EQ(lazy_builds, 1);  // only to name the taken id in its report
  const ZelDialogTemplate* found = ZelFindTemplate(9711);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->id, 9711u);
  EXPECT_EQ(ZelFindTemplate(9711), found);
  EXPECT_EQ(lazy_builds, 2);
  EXPECT_EQ(ZelFindTemplate(9712), nullptr);
  EXPECT_EQ(ZelFindTemplate(9713), nullptr);
  EXPECT_THAT(ZelRegisteredTemplates(), AllOf(Contains(found), Not(Contains(&LazyElsewhere()))));
  EXPECT_THAT(errors.Messages(),
              ElementsAre("template 9711 (\"Sound\") is refused: its id is taken",
                          "template 9713 (\"Sound\") is refused: it was registered as 9712"));
}

TEST(TemplateRegistry, ButtonsNeedACaptionOrAnImageAndBoxesCannotHoldThemselves) {
  ZelDialogTemplate t = Sound(9703);
  t.controls.push_back({30, ZelControlKind::Button, "", 0});
  t.controls.push_back({31, ZelControlKind::BitmapButton, "", 0, {}, 0, {}, "TO_DRIVESETUP"});
  EXPECT_THAT(ZelCheckTemplate(t), ElementsAre("button 30 has neither caption nor image"));

  // 41 and 42 hold each other; 43 sits in that circle without being part of it.
  ZelDialogTemplate circle = Sound(9705);
  circle.controls.push_back({41, ZelControlKind::Group, "a", 42});
  circle.controls.push_back({42, ZelControlKind::Group, "b", 41});
  circle.controls.push_back({43, ZelControlKind::Label, "c", 41});
  EXPECT_THAT(ZelCheckTemplate(circle),
              ElementsAre("control 41 is inside a circle of boxes",
                          "control 42 is inside a circle of boxes",
                          "control 43 is inside a circle of boxes"));
}

TEST(DialogRegistry, NamesAreTakenOnceAndOverridesGiveTheOldFactoryBack) {
  static const ZelDialogTemplate tmpl = Sound(9704);
  auto make = [](const char* caption) {
    return [caption](CZel_Setup&, CZel_Dialog* parent) {
      auto d = std::make_unique<CZel_Dialog>(tmpl, parent);
      d->SetWindowText(caption);
      return d;
    };
  };
  auto setup = testing_support::MakeSetup({});
  ZelCollectErrors errors;
  EXPECT_TRUE(ZelRegisterDialog("registry-test", make("first")));
  EXPECT_FALSE(ZelRegisterDialog("registry-test", make("second")));
  EXPECT_FALSE(ZelRegisterDialog("", make("nameless")));
  EXPECT_EQ(errors.Messages().front(),
            "dialog \"registry-test\" is registered twice; the first stays");
  {
    testing_support::ScopedDialogOverride stand_in("registry-test", make("stand-in"));
    EXPECT_EQ(ZelCreateDialog("registry-test", *setup)->GetCaption(), "stand-in");
  }
  EXPECT_EQ(ZelCreateDialog("registry-test", *setup)->GetCaption(), "first");
  ZelReplaceDialog("registry-test", nullptr);
  EXPECT_FALSE(ZelIsDialogRegistered("registry-test"));
  EXPECT_EQ(ZelCreateDialog("registry-test", *setup), nullptr);
}

}  // namespace
