// Tests and the fuzzer: the libvips side linked into the program itself.
#include "photo/backend.h"

namespace bmpface::photo {

const Backend* LoadBackend(std::string&) { return VipsBackend(); }

}  // namespace bmpface::photo
