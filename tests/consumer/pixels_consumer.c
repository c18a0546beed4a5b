/* Finds, crops and explains the face of a 100 x 100 picture with a 30 x 30 skin square at
 * (40, 40), made in memory; exits 0 only when every call gives the expected answer. */
#include <bmpface_pixels.h>
#include <string.h>

static int regions, leading;

static void See(void* context, const BMPFaceRegion* region) {
  (void)context;
  ++regions;
  leading += region->leads && region->failedTest == 0 && region->pixelCount == 900;
}

int main(void) {
  static uint8_t pixels[100 * 100 * 3], crop[36 * 27 * 3];
  BMPFaceRect rect = {0, 0, 0, 0};
  int x, y;
  for (y = 40; y < 70; ++y) {
    for (x = 40; x < 70; ++x) {
      memcpy(pixels + (y * 100 + x) * 3, "\x3c\x5a\xc8", 3); /* blue 60, green 90, red 200 */
    }
  }
  if (BMPFaceDetectPixels(pixels, 100, 100, 300, 3, &rect) != BMPFACE_OK) return 1;
  if (rect.x != 37 || rect.y != 28 || rect.width != 36 || rect.height != 27) return 2;
  if (BMPFaceExtractPixels(pixels, 100, 100, 300, 3, &rect, crop, sizeof crop) != BMPFACE_OK)
    return 3;
  if (crop[(12 * 36 + 3) * 3 + 2] != 200 || crop[(12 * 36 + 2) * 3 + 2] != 0) return 4;
  if (BMPFaceWalkRegions(pixels, 100, 100, 300, 3, See, NULL, &rect) != BMPFACE_OK) return 5;
  return regions == 1 && leading == 1 ? 0 : 6;
}
