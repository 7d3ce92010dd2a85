// Every dialog and test that the plug-in registers: built on the bundled drive and brought up
// as a front end would, it finds every control it binds and its template is sound. A dialog
// added later is checked here without a line of its own.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "host/zel_dialog_registry.h"
#include "host/zel_errors.h"
#include "host/zel_headless.h"
#include "names/dialog_names.h"
#include "tests/support/test_setups.h"

namespace {

using ::testing::Contains;
using ::testing::IsEmpty;

TEST(RegisteredDialogs, EachBuildsOnTheBundledDriveWithoutAReportAndHasASoundTemplate) {
  const std::vector<std::string> names = ZelRegisteredDialogNames();
  EXPECT_THAT(names, Contains(dcservo::dialog_names::kDriveSetup));
  for (const std::string& name : names) {
    ZelHeadlessBackend ui;
    ZelScopedUiBackend installed(ui);
    auto setup = testing_support::LoadBundledSetup();
    ZelCollectErrors errors;
    auto dialog = ZelCreateDialog(name, *setup);
    ASSERT_NE(dialog, nullptr) << name;
    dialog->ModalInit();
    EXPECT_THAT(errors.Messages(), IsEmpty()) << name;
    EXPECT_THAT(ZelCheckTemplate(dialog->Template()), IsEmpty()) << name;
    EXPECT_NE(ZelFindTemplate(dialog->Template().id), nullptr) << name << " is not registered";
  }
}

// The front end draws a picture by its name from the resources; none may be missing.
TEST(RegisteredDialogs, EveryPictureOfATemplateShipsAsAnSvgResource) {
  for (const ZelDialogTemplate* t : ZelRegisteredTemplates()) {
    for (const ZelControlDef& c : t->controls) {
      if (c.image.empty()) continue;
      EXPECT_TRUE(std::filesystem::is_regular_file(DCSERVO_RESOURCE_DIR "/images/" + c.image + ".svg"))
          << t->caption << ": " << c.image;
    }
  }
}

}  // namespace
