// Loading the command's optional modules (bmpface-vips.so for libvips, bmpface-verify.so for
// --verify's face detector): where they may be, and how they are opened. One search for all, so
// that every module is held to the same rules.
#ifndef BMPFACE_TOOLS_PHOTO_MODULE_LOADER_H_
#define BMPFACE_TOOLS_PHOTO_MODULE_LOADER_H_

#include <functional>
#include <mutex>
#include <string>

namespace bmpface::photo {

// Opens the module file `name` from the first place that holds one this program takes:
//   - beside the program, only when the program runs from the build tree it was made in (an
//     installed program never takes a library from its own folder);
//   - LIBDIR/bmpface relative to the program, then at the configured prefix;
//   - built with BMPFACE_MODULE_BESIDE_CODE (a Python extension): beside the shared object that
//     holds this code, instead of all of the above but the configured prefix.
// Each is opened with every symbol bound at once (a library that lacks one is refused here, not in
// the middle of a picture), and its `symbol` handed to `accept`, which calls it and returns "" to
// take the module or why not (another build). Returns false with `why` saying what went wrong
// (`what` names the module there: "the libvips module").
// A module taken stays loaded for the life of the process.
bool LoadModule(const char* name, const char* what, const char* symbol,
                const std::function<std::string(void* entry)>& accept, std::string& why);

// The table (a record with `abi` and `build` fields) that the module's `symbol`, a function
// without arguments, returns: taken only from the build `version` with this `abi`. Null with
// `why`. Loaded once per process: later calls give the first call's answer.
template <typename Table>
const Table* LoadModuleTable(const char* name, const char* what, const char* symbol, int abi,
                             const char* version, std::string& why) {
  static std::once_flag once;
  static const Table* loaded = nullptr;
  static std::string whyNot;
  std::call_once(once, [&] {
    LoadModule(
        name, what, symbol,
        [&](void* entry) -> std::string {
          const Table* table = reinterpret_cast<const Table* (*)()>(entry)();
          if (table == nullptr || table->abi != abi || std::string(table->build) != version) {
            return "not from this build of bmpface";
          }
          loaded = table;
          return "";
        },
        whyNot);
  });
  if (loaded == nullptr) why = whyNot;
  return loaded;
}

}  // namespace bmpface::photo

#endif  // BMPFACE_TOOLS_PHOTO_MODULE_LOADER_H_
