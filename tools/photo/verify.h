// --verify: after the rule has chosen its region, a face detector looks for a frontal face inside
// it (with a small margin). It only confirms: nothing is searched outside the chosen region.
#ifndef BMPFACE_TOOLS_PHOTO_VERIFY_H_
#define BMPFACE_TOOLS_PHOTO_VERIFY_H_

#include <cstdint>
#include <string>

#include "detect/region.h"
#include "image/bmp_image.h"
#include "image/crop.h"

namespace bmpface::photo {

// The margin added to the region's box on each side, as a share of its width (height): a face
// whose chin or forehead fell out of the skin region is still whole in the window.
constexpr double kVerifyMargin = 0.2;
// The window is seen with this longer side: dlib's detector finds faces of 80 pixels and more,
// so a face that is a quarter of the window is found; the time grows with the window's area.
constexpr int32_t kVerifySide = 320;

// The window the detector searches: the region's box widened by kVerifyMargin, within the
// width x height picture.
FaceRect VerifyWindow(const SkinRegion& region, int32_t width, int32_t height);

// The scale the window is seen at: its longer side becomes kVerifySide.
double VerifyScale(const FaceRect& window);

// The detector's box runs from the brows to the chin: widened by this share of its size on each
// side, it holds the forehead and the chin, and is the face --frame face starts from.
constexpr double kFaceGrowth = 0.2;

// True when the face detector can be used (its module found and loaded); false with `error`
// saying why.
bool VerifierAvailable(std::string& error);

// Looks for a frontal face in the window of `region` of `image`. Returns 1 with `face` the surest
// face found, widened by kFaceGrowth within the picture (in the picture's pixels), 0 when there is
// none, -1 with `error` when the detector cannot run.
int VerifyRegion(const BMPImage& image, const SkinRegion& region, FaceRect& face,
                 std::string& error);

}  // namespace bmpface::photo

#endif  // BMPFACE_TOOLS_PHOTO_VERIFY_H_
