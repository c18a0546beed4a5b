// The command's way to the face detector: the module bmpface-verify.so, loaded on first need from
// beside the program or from the library folder it is installed with. The search is the one the
// libvips module's loader makes (photo/backend_module.cpp).
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <mutex>
#include <string>

#include "verify/face_detector.h"

#ifndef BMPFACE_VERSION
#define BMPFACE_VERSION "unknown"
#endif

namespace bmpface::verify {
namespace {

constexpr const char* kModuleName = "bmpface-verify.so";

// The folder of the running program, or empty when it cannot be told.
std::string ProgramFolder() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  const std::string exe(path, static_cast<size_t>(n));
  const size_t slash = exe.find_last_of('/');
  return slash == std::string::npos ? "" : exe.substr(0, slash);
}

const FaceDetector* loaded = nullptr;
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
    // Every symbol bound now: a module that cannot work fails here, not in the middle of a
    // request.
    void* handle = ::dlopen(candidates[i].c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = ::dlerror();
      whyNot = std::string("cannot load ") + candidates[i] + ": " + (why != nullptr ? why : "");
      continue;
    }
    using Entry = const FaceDetector* (*)();
    const Entry entry = reinterpret_cast<Entry>(::dlsym(handle, "bmpface_face_detector"));
    const FaceDetector* detector = entry != nullptr ? entry() : nullptr;
    if (detector == nullptr || detector->abi != kDetectorAbi ||
        std::string(detector->build) != BMPFACE_VERSION) {
      whyNot = candidates[i] + " is not from this build of bmpface";
      ::dlclose(handle);
      continue;
    }
    loaded = detector;  // stays loaded for the life of the process
    return;
  }
  if (whyNot.empty()) {
    whyNot = std::string("the face detector's module ") + kModuleName + " is not installed";
  }
}

}  // namespace

const FaceDetector* LoadFaceDetector(std::string& error) {
  static std::once_flag once;
  std::call_once(once, Load);
  if (loaded == nullptr) error = whyNot;
  return loaded;
}

}  // namespace bmpface::verify
