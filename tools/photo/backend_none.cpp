// A build without libvips: BMP only.
#include "photo/backend.h"

namespace bmpface::photo {

const Backend* LoadBackend(std::string& error) {
  error = "this bmpface was built without libvips";
  return nullptr;
}

}  // namespace bmpface::photo
