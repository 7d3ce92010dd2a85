#include "host/zel_dialog_registry.h"

#include <map>

#include "host/zel_dialog.h"
#include "host/zel_errors.h"

namespace {

// Names are the command line's and the scripts' ("motor", "test-current"): compared as typed.
std::map<std::string, ZelDialogFactory, std::less<>>& DialogFactories() {
  static std::map<std::string, ZelDialogFactory, std::less<>> registry;
  return registry;
}

}  // namespace

bool ZelRegisterDialog(std::string_view name, ZelDialogFactory factory) {
  if (name.empty() || !factory) {
    ZelReportError("a dialog is registered without a name or without a way to build it");
    return false;
  }
  if (!DialogFactories().emplace(std::string(name), std::move(factory)).second) {
    ZelReportError("dialog \"" + std::string(name) + "\" is registered twice; the first stays");
    return false;
  }
  return true;
}

ZelDialogFactory ZelReplaceDialog(std::string_view name, ZelDialogFactory factory) {
  ZelDialogFactory old;
  auto it = DialogFactories().find(name);
  if (it != DialogFactories().end()) {
    old = std::move(it->second);
    DialogFactories().erase(it);
  }
  if (factory) DialogFactories().emplace(std::string(name), std::move(factory));
  return old;
}

bool ZelIsDialogRegistered(std::string_view name) {
  return DialogFactories().find(name) != DialogFactories().end();
}

std::unique_ptr<CZel_Dialog> ZelCreateDialog(std::string_view name, CZel_Setup& setup,
                                             CZel_Dialog* parent) {
  auto it = DialogFactories().find(name);
  return it == DialogFactories().end() ? nullptr : it->second(setup, parent);
}

std::vector<std::string> ZelRegisteredDialogNames() {
  std::vector<std::string> names;
  for (const auto& entry : DialogFactories()) names.push_back(entry.first);
  return names;
}
