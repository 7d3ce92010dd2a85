#include "app/gui_module.h"

#include <dlfcn.h>

#include <cstdlib>

#include "app/install_layout.h"
#include "app/setup_session.h"

namespace {

std::string GuiModulePath() {
  if (const char* env = std::getenv("DCSERVO_GUI"); env && *env) return env;
  return install_layout::PluginFolder() + "/libdcservo_gui.so";
}

// Never closed: the objects it makes and the Qt application it starts outlive any scope
// that could own the handle.
const GuiModuleApi& LoadGuiModule() {
  const std::string path = GuiModulePath();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    throw CommandError(kExitFailed, "cannot load the window front end " + path + ": " +
                                        (why ? why : "unknown reason"));
  }
  auto entry = reinterpret_cast<GuiModuleEntryFn>(dlsym(handle, kGuiModuleSymbol));
  const GuiModuleApi* api = entry ? entry() : nullptr;
  if (!api)
    throw CommandError(kExitFailed, path + ": no export \"" + std::string(kGuiModuleSymbol) + "\"");
  return *api;
}

}  // namespace

const GuiModuleApi& GuiModule() {
  static const GuiModuleApi& api = LoadGuiModule();
  return api;
}
