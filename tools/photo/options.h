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

// Adds an option whose value is a whole number from `min` to `max`, written in decimal digits and
// nothing else: "nan", "5abc", "1.5" and " 5" are "not a whole number", a value outside the range
// is said so; both are command-line errors.
CLI::Option* AddWholeNumber(CLI::App& app, const std::string& name, int& value, int min, int max,
                            const std::string& description);
CLI::Option* AddWholeNumber(CLI::App& app, const std::string& name, uint64_t& value, uint64_t min,
                            uint64_t max, const std::string& description);

// Refuses (CLI::ValidationError, a command-line error) a --size over the pixel limit, or too large
// for `format`, the output's format where the command line tells it (kUnknown: not yet known).
void CheckOutputSize(const PhotoOptions& options, Format format);

// Adds the options to `app`, parsed into `options`: a value out of range or of the wrong form is a
// command-line error. In a build without libvips, --size and --format with a format other than BMP
// are refused as such; --verify without the face detector's module, likewise. --max-pixels and
// --timeout are always added.
void AddPhotoOptions(CLI::App& app, PhotoOptions& options, unsigned which = kAllPhotoOptions);

}  // namespace bmpface::photo

#endif  // BMPFACE_TOOLS_PHOTO_OPTIONS_H_
