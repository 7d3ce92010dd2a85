#pragma once
// Dialogs and tests by name. The code that builds a dialog registers it; any dialog opens
// another through this registry, so no dialog includes its opener and a button's state can
// follow whether the dialog it opens is built at all.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CZel_Dialog;
class CZel_Setup;

using ZelDialogFactory =
    std::function<std::unique_ptr<CZel_Dialog>(CZel_Setup& setup, CZel_Dialog* parent)>;

// False (reported) for an empty name, an empty factory or a name that is taken.
bool ZelRegisterDialog(std::string_view name, ZelDialogFactory factory);
// Installs a factory under a name whatever was there and returns what it replaces; an empty
// factory takes the name back. For hosts and tests that stand a dialog in for another.
ZelDialogFactory ZelReplaceDialog(std::string_view name, ZelDialogFactory factory);
bool ZelIsDialogRegistered(std::string_view name);
// Null when nothing is registered under the name.
std::unique_ptr<CZel_Dialog> ZelCreateDialog(std::string_view name, CZel_Setup& setup,
                                             CZel_Dialog* parent = nullptr);
// Sorted.
std::vector<std::string> ZelRegisteredDialogNames();

// A dialog's source file registers it with a static registration object.
struct ZelDialogRegistration {
  ZelDialogRegistration(std::string_view name, ZelDialogFactory factory) {
    ZelRegisterDialog(name, std::move(factory));
  }
};

// The factory of a dialog class whose constructor takes (setup, parent).
template <class D>
ZelDialogFactory ZelFactoryOf() {
  return [](CZel_Setup& setup, CZel_Dialog* parent) -> std::unique_ptr<CZel_Dialog> {
    return std::make_unique<D>(setup, parent);
  };
}
