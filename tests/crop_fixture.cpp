// `crop_fixture DIR X Y W H` crops that rectangle from a 7x5 picture in two sources, a 24-bit one
// and a 32-bit one with a 124-byte BITFIELDS info header (as ImageMagick writes them), and saves
// DIR/crop24.bmp and DIR/crop32.bmp with the RGB bytes an independent reader must decode from
// each, top row first (DIR/crop24.rgb, DIR/crop32.rgb).
#include <cstdlib>
#include <string>

#include "image/crop.h"
#include "test_support.h"

using namespace bmpface;
using namespace bmpface::test;

int main(int argc, char** argv) {
  if (argc != 6) return 2;
  const FaceRect r{std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5])};
  for (int32_t bits : {24, 32}) {
    Picture picture(7, 5, bits);
    for (size_t i = 0; i < picture.bytes.size(); ++i) picture.bytes[i] = uint8_t(i * 37 + 11);
    std::vector<uint8_t> file =
        EncodeBMP(picture, {false, 0, bits == 24 ? 40u : 124u, bits == 24 ? 0u : 3u});
    const uint32_t masks[] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};  // R, G, B, A
    for (size_t i = 0; bits == 32 && i < 4; ++i) PutLE32(file, 54 + 4 * i, masks[i]);
    const std::string name = std::string(argv[1]) + "/crop" + std::to_string(bits);
    WriteFile(name + ".source.bmp", file);
    BMPImage source{}, crop{};
    if (LoadBMP((name + ".source.bmp").c_str(), source) != 1 ||
        ExtractFaceRegion(source, r, crop) != 1 || SaveBMP((name + ".bmp").c_str(), crop) != 1)
      return 1;
    std::vector<uint8_t> rgb;
    for (int32_t y = r.y; y < r.y + r.height; ++y)
      for (int32_t x = r.x; x < r.x + r.width; ++x)
        for (int channel : {2, 1, 0})
          rgb.push_back(x >= 0 && y >= 0 && x < 7 && y < 5 ? picture.At(x, y)[channel] : 0);
    WriteFile(name + ".rgb", rgb);
    FreeBMP(crop);
    FreeBMP(source);
  }
  return 0;
}
