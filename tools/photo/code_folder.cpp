// The folder of the shared object that holds this code: a library loaded into another program
// (the Python extension) keeps the libvips module beside itself, not beside the program.
#include <dlfcn.h>

#include <string>

namespace bmpface::photo {

std::string CodeFolder() {
  Dl_info where{};
  if (::dladdr(reinterpret_cast<void*>(&CodeFolder), &where) == 0 || where.dli_fname == nullptr) {
    return "";
  }
  const std::string file(where.dli_fname);
  const size_t slash = file.find_last_of('/');
  return slash == std::string::npos ? "." : file.substr(0, slash);
}

}  // namespace bmpface::photo
