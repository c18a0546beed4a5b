// The command-line options every mode that writes or reports a crop shares, on one call.
#ifndef BMPFACE_TOOLS_PHOTO_OPTIONS_H_
#define BMPFACE_TOOLS_PHOTO_OPTIONS_H_

#include <CLI/CLI.hpp>

#include "photo/photo.h"

namespace bmpface::photo {

// Which of the shared options a mode takes.
enum OptionSet : unsigned {
  kOrientOption = 1,    // --no-orient
  kFramingOptions = 2,  // --margin, --aspect, --size
  kOutputOptions = 4,   // --format, --quality
  kVerifyOptions = 8,   // --verify, --frame
  kAllPhotoOptions = 15,
};

// Adds the options to `app`, parsed into `options`: a value out of range or of the wrong form is a
// command-line error. In a build without libvips, --size and --format with a format other than BMP
// are refused as such; --verify without the face detector's module, likewise.
void AddPhotoOptions(CLI::App& app, PhotoOptions& options, unsigned which = kAllPhotoOptions);

}  // namespace bmpface::photo

#endif  // BMPFACE_TOOLS_PHOTO_OPTIONS_H_
