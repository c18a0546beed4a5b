#include "test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace bmpface::test {

namespace fs = std::filesystem;

Picture::Picture(int32_t w, int32_t h, int32_t bits, BGR fill)
    : width(w), height(h), bitCount(bits), bytes(size_t(w) * size_t(h) * size_t(bits / 8)) {
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) Set(x, y, fill);
}

uint8_t* Picture::At(int32_t x, int32_t y) {
  return bytes.data() + (size_t(y) * size_t(width) + size_t(x)) * size_t(bitCount / 8);
}
const uint8_t* Picture::At(int32_t x, int32_t y) const {
  return bytes.data() + (size_t(y) * size_t(width) + size_t(x)) * size_t(bitCount / 8);
}

void Picture::Set(int32_t x, int32_t y, BGR c) {
  uint8_t* p = At(x, y);
  p[0] = c.b;
  p[1] = c.g;
  p[2] = c.r;
  if (bitCount == 32) p[3] = uint8_t(x * 7 + y * 13);  // a varying fourth byte
}

void Picture::Fill(int32_t x0, int32_t y0, int32_t x1, int32_t y1, BGR c) {
  for (int32_t y = y0; y <= y1; ++y)
    for (int32_t x = x0; x <= x1; ++x) Set(x, y, c);
}

void PutLE32(std::vector<uint8_t>& b, size_t o, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[o + size_t(i)] = uint8_t(v >> (8 * i));
}
void PutLE16(std::vector<uint8_t>& b, size_t o, uint16_t v) {
  b[o] = uint8_t(v);
  b[o + 1] = uint8_t(v >> 8);
}
uint32_t GetLE32(const std::vector<uint8_t>& b, size_t o) {
  return uint32_t(b[o]) | uint32_t(b[o + 1]) << 8 | uint32_t(b[o + 2]) << 16 |
         uint32_t(b[o + 3]) << 24;
}

std::vector<uint8_t> EncodeBMP(const Picture& p, const EncodeOptions& o) {
  const size_t bpp = size_t(p.bitCount / 8);
  const size_t stride = (size_t(p.bitCount) * size_t(p.width) + 31) / 32 * 4;
  const uint32_t offBits = 14 + o.infoHeaderSize + o.gap;
  std::vector<uint8_t> f(offBits + stride * size_t(p.height), 0);
  f[0] = 'B';
  f[1] = 'M';
  PutLE32(f, kOffBfSize, uint32_t(f.size()));
  PutLE32(f, kOffBfOffBits, offBits);
  PutLE32(f, kOffBiSize, o.infoHeaderSize);
  PutLE32(f, kOffBiWidth, uint32_t(p.width));
  PutLE32(f, kOffBiHeight, uint32_t(o.topDown ? -p.height : p.height));
  PutLE16(f, 26, 1);
  PutLE16(f, kOffBiBitCount, uint16_t(p.bitCount));
  PutLE32(f, kOffBiCompression, o.compression);
  PutLE32(f, kOffBiSizeImage, uint32_t(stride * size_t(p.height)));
  for (int32_t y = 0; y < p.height; ++y) {
    const int32_t fileRow = o.topDown ? y : p.height - 1 - y;
    uint8_t* row = f.data() + offBits + size_t(fileRow) * stride;
    std::copy(p.At(0, y), p.At(0, y) + size_t(p.width) * bpp, row);
    std::fill(row + size_t(p.width) * bpp, row + stride, uint8_t(0xEE));
  }
  return f;
}

TempDir::TempDir() {
  static std::mt19937_64 rng{std::random_device{}()};
  for (;;) {
    fs::path candidate = fs::temp_directory_path() / ("bmpface-test-" + std::to_string(rng()));
    if (fs::create_directory(candidate)) {
      path_ = candidate.string();
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::Path(const std::string& name) const {
  return (fs::path(path_) / name).string();
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

BMPImage LoadPicture(const Picture& picture) {
  const std::vector<uint8_t> file = EncodeBMP(picture);
  BMPImage image{};
  if (LoadBMPFromMemory(file.data(), file.size(), image) != 1) {
    ADD_FAILURE() << "LoadBMPFromMemory failed on a synthetic picture";
  }
  return image;
}

void SetFlag(FlagGrid& grid, int32_t x, int32_t y) {
  const size_t n = size_t(y) * size_t(grid.width) + size_t(x);
  grid.words[n / 64] |= uint64_t{1} << (n % 64);
}

SkinMask MaskFromArt(const std::vector<std::string>& art) {
  const int32_t height = int32_t(art.size());
  const int32_t width = height > 0 ? int32_t(art[0].size()) : 0;
  SkinMask mask;
  AllocateFlagGrid(width, height, mask);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      if (art[size_t(y)][size_t(x)] == '#') SetFlag(mask, x, y);
  return mask;
}

SkinMask MaskWithBoxes(int32_t width, int32_t height, const std::vector<Box>& boxes) {
  SkinMask mask;
  AllocateFlagGrid(width, height, mask);
  for (const Box& b : boxes)
    for (int32_t y = b.y0; y <= b.y1; ++y)
      for (int32_t x = b.x0; x <= b.x1; ++x) SetFlag(mask, x, y);
  return mask;
}

std::vector<Box> CombBoxes(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  std::vector<Box> boxes{{x0, y0, x1, y0}};
  for (int32_t x = x0; x <= x1; x += 2) boxes.push_back({x, y0 + 1, x, y1});
  return boxes;
}

std::string CaptureStdout(const std::function<void()>& action) {
  std::fflush(stdout);
  std::FILE* sink = std::tmpfile();
  const int saved = dup(1);
  dup2(fileno(sink), 1);
  action();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::string text;
  std::rewind(sink);
  for (int c; (c = std::fgetc(sink)) != EOF;) text += char(c);
  std::fclose(sink);
  return text;
}

std::string SharedDir() {
  const char* env = std::getenv("BMPFACE_SHARED_DIR");
  const fs::path dir = env != nullptr ? fs::path(env) : fs::path(BMPFACE_SHARED_DIR);
  std::error_code ec;
  return fs::is_directory(dir / "bmpsuite", ec) ? dir.string() : std::string();
}

std::string SourceDir() { return BMPFACE_SOURCE_DIR; }

}  // namespace bmpface::test
