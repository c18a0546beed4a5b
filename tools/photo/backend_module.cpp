// The command's way to the libvips side: the module bmpface-vips.so, loaded on first need.
#include <string>

#include "photo/backend.h"
#include "photo/module_loader.h"

#ifndef BMPFACE_VERSION
#define BMPFACE_VERSION "unknown"
#endif

namespace bmpface::photo {

const Backend* LoadBackend(std::string& error) {
  return LoadModuleTable<Backend>("bmpface-vips.so", "the libvips module", "bmpface_photo_backend",
                                  kBackendAbi, BMPFACE_VERSION, error);
}

}  // namespace bmpface::photo
