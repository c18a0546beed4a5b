// The command's way to the libvips side: the module bmpface-vips.so, loaded on first need.
#include <mutex>
#include <string>

#include "photo/backend.h"
#include "photo/module_loader.h"

#ifndef BMPFACE_VERSION
#define BMPFACE_VERSION "unknown"
#endif

namespace bmpface::photo {
namespace {

const Backend* loaded = nullptr;
std::string whyNot;

void Load() {
  LoadModule(
      "bmpface-vips.so", "the libvips module", "bmpface_photo_backend",
      [](void* symbol) -> std::string {
        using Entry = const Backend* (*)();
        const Backend* backend = reinterpret_cast<Entry>(symbol)();
        if (backend == nullptr || backend->abi != kBackendAbi ||
            std::string(backend->build) != BMPFACE_VERSION) {
          return "not from this build of bmpface";
        }
        loaded = backend;
        return "";
      },
      whyNot);
}

}  // namespace

const Backend* LoadBackend(std::string& error) {
  static std::once_flag once;
  std::call_once(once, Load);
  if (loaded == nullptr) error = whyNot;
  return loaded;
}

}  // namespace bmpface::photo
