#pragma once
// Loads the plug-in module with dlopen and resolves its four exports, as any host does.

#include <memory>
#include <string>

#include "plugin/plugin_api.h"

class PluginModule {
 public:
  // The module at `path`, or null with `error` set.
  static std::unique_ptr<PluginModule> Load(const std::string& path, std::string& error);
  // DCSERVO_PLUGIN when set, else the module beside the running program.
  static std::string DefaultPath();

  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  EditSetupFn EditSetup = nullptr;
  ComputeAllOptionsFn ComputeAllOptions = nullptr;
  GetScaleFactorFn GetScaleFactor = nullptr;
  GetScaleOffsetFn GetScaleOffset = nullptr;

 private:
  explicit PluginModule(void* handle) : handle_(handle) {}
  void* handle_;
};
