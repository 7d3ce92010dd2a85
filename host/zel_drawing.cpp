#include "host/zel_drawing.h"

#include <dlfcn.h>

#include <filesystem>

namespace {

struct ZelDrawingModule {
  const ZelDrawingFunctions* functions = nullptr;
  std::string error;
};

// The module stands beside this library, in the build tree and where it is installed alike.
ZelDrawingModule LoadZelDrawingModule() {
  ZelDrawingModule module;
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&ZelDrawing), &self) == 0 || self.dli_fname == nullptr) {
    module.error = "the drawing module could not be found: the host's library has no path";
    return module;
  }
  const std::string path =
      (std::filesystem::path(self.dli_fname).parent_path() / ZEL_DRAWING_MODULE).string();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    module.error = std::string("the drawing module could not be loaded: ") + dlerror();
    return module;
  }
  const auto entry = reinterpret_cast<ZelDrawingEntry>(dlsym(handle, kZelDrawingEntry));
  if (entry == nullptr || (module.functions = entry()) == nullptr)
    module.error = path + ": not the drawing module (no " + kZelDrawingEntry + ")";
  return module;
}

}  // namespace

const ZelDrawingFunctions* ZelDrawing(std::string& why) {
  static const ZelDrawingModule module = LoadZelDrawingModule();
  if (module.functions == nullptr) why = module.error;
  return module.functions;
}
