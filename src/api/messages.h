// The export's three message lines, kept in one place for the export and for hosts (the bmpface
// command's batch workers) that run the same pipeline and must print exactly the same lines.
#ifndef BMPFACE_API_MESSAGES_H_
#define BMPFACE_API_MESSAGES_H_

#include <cstdint>

#include "bmpface.h"

namespace bmpface {

// The line printed for `status`, or null for the statuses that print none (999 and 1).
inline const char* StatusMessage(int32_t status) {
  switch (status) {
    case BMPFACE_NO_FACE:
      return "Error: No face detected in image\n";
    case BMPFACE_EXTRACT_FAILED:
      return "Error: Failed to extract face region\n";
    case BMPFACE_SAVE_FAILED:
      return "Error: Failed to save output file\n";
    default:
      return nullptr;
  }
}

}  // namespace bmpface

#endif  // BMPFACE_API_MESSAGES_H_
