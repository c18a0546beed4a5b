// The command's way to the libvips side: the module bmpface-vips.so, loaded on first need from
// beside the program in its build tree, or from the library folder it is installed with.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "photo/backend.h"

#ifndef BMPFACE_VERSION
#define BMPFACE_VERSION "unknown"
#endif

namespace bmpface::photo {
namespace {

constexpr const char* kModuleName = "bmpface-vips.so";

// The folder that holds `path`, or empty.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

#ifndef BMPFACE_MODULE_BESIDE_CODE
// The folder of the running program, or empty when it cannot be told.
std::string ProgramFolder() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  return FolderOf(std::string(path, static_cast<size_t>(n)));
}

// The same folder, however spelled.
bool SameFolder(const std::string& a, const std::string& b) {
  char ra[PATH_MAX], rb[PATH_MAX];
  return !a.empty() && !b.empty() && ::realpath(a.c_str(), ra) != nullptr &&
         ::realpath(b.c_str(), rb) != nullptr && std::strcmp(ra, rb) == 0;
}
#else
// The folder of the shared object this code is in (a Python extension carries the module beside
// itself).
std::string CodeFolder() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&FolderOf), &info) == 0 || info.dli_fname == nullptr) {
    return "";
  }
  return FolderOf(info.dli_fname);
}
#endif

// Where the module may be, in order. Beside the program only in the build tree the program was
// made in: an installed program never takes a library from its own folder (which a user who can
// write there, or a copy of the program elsewhere, would choose).
int Candidates(std::string (&candidates)[3]) {
  int count = 0;
#ifdef BMPFACE_MODULE_BESIDE_CODE
  const std::string code = CodeFolder();
  if (!code.empty()) candidates[count++] = code + "/" + kModuleName;
#else
  const std::string folder = ProgramFolder();
#ifdef BMPFACE_BUILD_DIR
  if (SameFolder(folder, BMPFACE_BUILD_DIR)) candidates[count++] = folder + "/" + kModuleName;
#endif
#ifdef BMPFACE_MODULE_RELATIVE_DIR
  if (!folder.empty()) {
    candidates[count++] = folder + "/" BMPFACE_MODULE_RELATIVE_DIR "/" + kModuleName;
  }
#endif
#endif
#ifdef BMPFACE_MODULE_DIR
  candidates[count++] = std::string(BMPFACE_MODULE_DIR "/") + kModuleName;
#endif
  return count;
}

const Backend* loaded = nullptr;
std::string whyNot;

void Load() {
  std::string candidates[3];
  const int count = Candidates(candidates);
  for (int i = 0; i < count; ++i) {
    if (::access(candidates[i].c_str(), R_OK) != 0) continue;
    // Every symbol bound now: a libvips that lacks one (another version, or a library planted
    // in LD_LIBRARY_PATH) is a refusal here, not a "symbol lookup error" that ends the process
    // in the middle of a picture.
    void* handle = ::dlopen(candidates[i].c_str(), RTLD_NOW | RTLD_LOCAL);
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
