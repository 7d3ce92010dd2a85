#include "app/plugin_loader.h"

#include <dlfcn.h>

#include <cstdlib>

#include "app/install_layout.h"

namespace {

template <typename Fn>
bool Resolve(void* handle, const char* symbol, Fn& out, std::string& error) {
  out = reinterpret_cast<Fn>(dlsym(handle, symbol));
  if (!out) error = std::string("the plug-in has no export \"") + symbol + "\"";
  return out != nullptr;
}

}  // namespace

std::string PluginModule::DefaultPath() {
  if (const char* env = std::getenv("DCSERVO_PLUGIN"); env && *env) return env;
  return install_layout::PluginFolder() + "/libdcservo_plugin.so";
}

std::unique_ptr<PluginModule> PluginModule::Load(const std::string& path, std::string& error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    error = "cannot load the plug-in " + path + ": " + (why ? why : "unknown reason");
    return nullptr;
  }
  std::unique_ptr<PluginModule> module(new PluginModule(handle));
  if (!Resolve(handle, kEditSetupSymbol, module->EditSetup, error) ||
      !Resolve(handle, kComputeAllOptionsSymbol, module->ComputeAllOptions, error) ||
      !Resolve(handle, kGetScaleFactorSymbol, module->GetScaleFactor, error) ||
      !Resolve(handle, kGetScaleOffsetSymbol, module->GetScaleOffset, error)) {
    error = path + ": " + error;
    return nullptr;
  }
  return module;
}

PluginModule::~PluginModule() { dlclose(handle_); }
