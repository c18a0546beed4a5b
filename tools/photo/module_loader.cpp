#include "photo/module_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace bmpface::photo {
namespace {

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

#ifdef BMPFACE_BUILD_DIR
// The same folder, however spelled.
bool SameFolder(const std::string& a, const std::string& b) {
  char ra[PATH_MAX], rb[PATH_MAX];
  return !a.empty() && !b.empty() && ::realpath(a.c_str(), ra) != nullptr &&
         ::realpath(b.c_str(), rb) != nullptr && std::strcmp(ra, rb) == 0;
}
#endif
#else
// The folder of the shared object this code is in.
std::string CodeFolder() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&FolderOf), &info) == 0 || info.dli_fname == nullptr) {
    return "";
  }
  return FolderOf(info.dli_fname);
}
#endif

// The places, in order; returns how many.
int Candidates(const std::string& name, std::string (&candidates)[3]) {
  int count = 0;
#ifdef BMPFACE_MODULE_BESIDE_CODE
  const std::string code = CodeFolder();
  if (!code.empty()) candidates[count++] = code + "/" + name;
#else
  const std::string folder = ProgramFolder();
#ifdef BMPFACE_BUILD_DIR
  if (SameFolder(folder, BMPFACE_BUILD_DIR)) candidates[count++] = folder + "/" + name;
#endif
#ifdef BMPFACE_MODULE_RELATIVE_DIR
  if (!folder.empty()) candidates[count++] = folder + "/" BMPFACE_MODULE_RELATIVE_DIR "/" + name;
#endif
#endif
#ifdef BMPFACE_MODULE_DIR
  candidates[count++] = std::string(BMPFACE_MODULE_DIR "/") + name;
#endif
  return count;
}

}  // namespace

bool LoadModule(const char* name, const char* what, const char* symbol,
                const std::function<std::string(void* entry)>& accept, std::string& why) {
  why.clear();
  std::string candidates[3];
  const int count = Candidates(name, candidates);
  for (int i = 0; i < count; ++i) {
    if (::access(candidates[i].c_str(), R_OK) != 0) continue;
    void* handle = ::dlopen(candidates[i].c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* error = ::dlerror();
      why = "cannot load " + candidates[i] + ": " + (error != nullptr ? error : "");
      continue;
    }
    void* entry = ::dlsym(handle, symbol);
    const std::string refused =
        entry != nullptr ? accept(entry) : "it has no " + std::string(symbol);
    if (refused.empty()) return true;
    why = candidates[i] + ": " + refused;
    ::dlclose(handle);
  }
  if (why.empty()) why = std::string(what) + " " + name + " is not installed";
  return false;
}

}  // namespace bmpface::photo
