// The command's way to the libvips side: the module bmpface-vips.so, loaded on first need from
// beside the program or from the library folder it is installed with.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <mutex>
#include <string>

#include "photo/backend.h"

#ifndef BMPFACE_VERSION
#define BMPFACE_VERSION "unknown"
#endif

namespace bmpface::photo {
#ifdef BMPFACE_MODULE_BESIDE_CODE
std::string CodeFolder();  // code_folder.cpp
#endif
namespace {

constexpr const char* kModuleName = "bmpface-vips.so";

// The folder of the running program, or empty when it cannot be told.
std::string ProgramFolder() {
#ifdef BMPFACE_MODULE_BESIDE_CODE
  return CodeFolder();  // the shared object that holds this code instead (the Python extension)
#endif
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  const std::string exe(path, static_cast<size_t>(n));
  const size_t slash = exe.find_last_of('/');
  return slash == std::string::npos ? "" : exe.substr(0, slash);
}

const Backend* loaded = nullptr;
std::string whyNot;

void Load() {
  const std::string folder = ProgramFolder();
  std::string candidates[3];
  int count = 0;
  if (!folder.empty()) {
    candidates[count++] = folder + "/" + kModuleName;  // the build tree
#ifdef BMPFACE_MODULE_RELATIVE_DIR
    candidates[count++] = folder + "/" BMPFACE_MODULE_RELATIVE_DIR "/" + kModuleName;
#endif
  }
#ifdef BMPFACE_MODULE_DIR
  candidates[count++] = std::string(BMPFACE_MODULE_DIR "/") + kModuleName;
#endif
  for (int i = 0; i < count; ++i) {
    if (::access(candidates[i].c_str(), R_OK) != 0) continue;
    void* handle = ::dlopen(candidates[i].c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = ::dlerror();
      whyNot = std::string("cannot load ") + candidates[i] + ": " + (why != nullptr ? why : "");
      continue;
    }
    using Entry = const Backend* (*)();
    const Entry entry = reinterpret_cast<Entry>(::dlsym(handle, "bmpface_photo_backend"));
    const Backend* backend = entry != nullptr ? entry() : nullptr;
    if (backend == nullptr || backend->abi != kBackendAbi ||
        std::string(backend->build) != BMPFACE_VERSION) {
      whyNot = candidates[i] + " is not from this build of bmpface";
      ::dlclose(handle);
      continue;
    }
    loaded = backend;  // stays loaded for the life of the process
    return;
  }
  if (whyNot.empty())
    whyNot = std::string("the libvips module ") + kModuleName + " is not installed";
}

}  // namespace

const Backend* LoadBackend(std::string& error) {
  static std::once_flag once;
  std::call_once(once, Load);
  if (loaded == nullptr) error = whyNot;
  return loaded;
}

}  // namespace bmpface::photo
