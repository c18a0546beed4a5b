// The one symbol the module bmpface-vips.so exports.
#include "photo/backend.h"

extern "C" __attribute__((visibility("default"))) const bmpface::photo::Backend*
bmpface_photo_backend() {
  return bmpface::photo::VipsBackend();
}
