// BMP reader, writer, pixel access and crop.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <functional>
#include <string>
#include <vector>

#if defined(__unix__) || defined(__APPLE__)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>
#endif

#include "image/bmp_header.h"
#include "image/bmp_image.h"
#include "image/crop.h"
#include "platform/platform.h"
#include "test_support.h"

namespace bmpface::test {
namespace {

using Bytes = std::vector<uint8_t>;

// A different value in each byte, so that a swapped row, column or channel shows.
Picture Pattern(int32_t w, int32_t h, int32_t bits) {
  Picture p(w, h, bits);
  for (size_t i = 0; i < p.bytes.size(); ++i) p.bytes[i] = uint8_t(i * 37 + 11);
  return p;
}

// The pixel bytes of `image` without row fill, top row first: comparable with Picture::bytes.
Bytes Packed(const BMPImage& image) {
  Bytes out;
  for (int32_t y = 0; y < image.height; ++y)
    out.insert(out.end(), PixelAt(image, 0, y),
               PixelAt(image, 0, y) + image.width * image.bytesPerPixel);
  return out;
}

std::vector<int32_t> Shape(const BMPImage& image) {
  return {image.width, image.height, image.bytesPerPixel, image.rowStride};
}

// LoadBMP on `bytes` written to a file; `requests` receives the memory requests it made. The
// reader over memory must decide and read exactly the same.
int LoadBytes(const Bytes& bytes, BMPImage& image, long* requests = nullptr) {
  TempDir dir;
  WriteFile(dir.Path("in.bmp"), bytes);
  PlatformFailRequest(0);
  const int ok = LoadBMP(dir.Path("in.bmp").c_str(), image);
  if (requests != nullptr) *requests = PlatformRequestCount();
  BMPImage fromMemory{};
  PlatformFailRequest(0);
  EXPECT_EQ(LoadBMPFromMemory(bytes.data(), bytes.size(), fromMemory), ok);
  if (requests != nullptr) {
    EXPECT_EQ(PlatformRequestCount(), *requests);
  }
  if (ok == 1) {
    EXPECT_EQ(Shape(fromMemory), Shape(image));
    const size_t size = size_t(image.height) * size_t(image.rowStride);
    EXPECT_TRUE(std::equal(image.pixels, image.pixels + size, fromMemory.pixels));
    FreeBMP(fromMemory);
  }
  return ok;
}

TEST(LoadBMP, HeaderFaultsAreRefusedBeforeAnyBuffer) {
  // Each case writes `value` over `bytes` bytes at `offset` of a good file (3x2 pixels, 24 bits,
  // rows of 12 bytes, 78 bytes), or cuts the file to `value` bytes when `bytes` is 0. `header`:
  // what the header alone allows, whatever the file holds; `loads`: LoadBMP's result.
  const Bytes good = EncodeBMP(Pattern(3, 2, 24));
  const struct {
    const char* name;
    size_t offset, bytes;
    uint32_t value;
    int header, loads;
  } cases[] = {{"good", 0, 0, 78, 1, 1},
               {"empty", 0, 0, 0, 0, 0},
               {"header_cut_at_53", 0, 0, 53, 0, 0},
               {"pixels_one_byte_short", 0, 0, 77, 1, 0},
               {"magic_BA", 0, 2, 0x4142, 0, 0},
               {"bits_1", kOffBiBitCount, 2, 1, 0, 0},
               {"bits_16", kOffBiBitCount, 2, 16, 0, 0},
               {"bits_64", kOffBiBitCount, 2, 64, 0, 0},
               {"bits_32_same_row_size", kOffBiBitCount, 2, 32, 1, 1},
               {"compression_rle8_ignored", kOffBiCompression, 4, 1, 1, 1},
               {"compression_any_value", kOffBiCompression, 4, 0xFFFFFFFF, 1, 1},
               {"info_size_12_ignored", kOffBiSize, 4, 12, 1, 1},
               {"width_0", kOffBiWidth, 4, 0, 0, 0},
               {"width_negative", kOffBiWidth, 4, uint32_t(-3), 0, 0},
               {"width_row_bits_at_int32_max", kOffBiWidth, 4, 89478484, 1, 0},
               {"width_row_bits_past_int32", kOffBiWidth, 4, 89478485, 0, 0},
               {"height_0", kOffBiHeight, 4, 0, 0, 0},
               {"height_int32_min", kOffBiHeight, 4, 0x80000000u, 0, 0},
               {"height_top_down", kOffBiHeight, 4, uint32_t(-2), 1, 1},
               {"height_one_row_more", kOffBiHeight, 4, 3, 1, 0},
               {"height_declares_2GB", kOffBiHeight, 4, 178956970, 1, 0},
               {"height_rows_past_int32", kOffBiHeight, 4, 178956971, 0, 0},
               {"height_top_down_past_int32", kOffBiHeight, 4, uint32_t(-178956971), 0, 0},
               {"offset_one_too_far", kOffBfOffBits, 4, 55, 1, 0},
               {"offset_all_ones", kOffBfOffBits, 4, 0xFFFFFFFF, 1, 0},
               {"offset_below_header", kOffBfOffBits, 4, 20, 1, 1}};
  for (const auto& c : cases) {
    Bytes file = good;
    if (c.bytes == 0) file.resize(c.value);
    for (size_t i = 0; i < c.bytes; ++i) file[c.offset + i] = uint8_t(c.value >> (8 * i));
    if (file.size() >= kHeaderBytes) {
      uint8_t header[kHeaderBytes];
      std::copy_n(file.begin(), kHeaderBytes, header);
      BMPImage image{};
      UnpackBMPHeaders(header, image);
      EXPECT_EQ(CheckBMPHeader(image, UINT64_MAX), c.header) << c.name;
    }
    BMPImage image{};
    long requests = -1;
    EXPECT_EQ(LoadBytes(file, image, &requests), c.loads) << c.name;
    EXPECT_EQ(requests, c.loads) << c.name;  // a refusal never obtains the pixel buffer
    FreeBMP(image);
  }
}

TEST(LoadBMP, RowsComeFromTheOffsetTopRowFirstInMemory) {
  const struct {
    const char* name;
    EncodeOptions options;
    int64_t offBits;  // -1: as encoded
  } cases[] = {
      {"bottom_up", {}, -1},  // the file's first row lands in memory row 1
      {"top_down", {true}, -1},
      {"gap_skipped", {false, 9}, -1},
      {"v5_header_bitfields", {true, 0, 124, 3}, -1},
      {"offset_zero_reads_header", {}, 0},
      {"offset_inside_header", {true}, 30},
  };
  for (const auto& c : cases) {
    Bytes file = EncodeBMP(Picture(3, 2), c.options);
    for (size_t i = kHeaderBytes; i < file.size(); ++i) file[i] = uint8_t(i * 7);
    if (c.offBits >= 0) PutLE32(file, kOffBfOffBits, uint32_t(c.offBits));
    BMPImage image{};
    ASSERT_EQ(LoadBytes(file, image), 1) << c.name;
    ASSERT_EQ(Shape(image), (std::vector<int32_t>{3, 2, 3, 12})) << c.name;
    const uint8_t* rows = file.data() + GetLE32(file, kOffBfOffBits);
    Bytes want(rows, rows + 24);
    if (!c.options.topDown) std::rotate(want.begin(), want.begin() + 12, want.end());
    EXPECT_EQ(Bytes(image.pixels, image.pixels + 24), want) << c.name;
    FreeBMP(image);
    FreeBMP(image);  // harmless twice
  }
}

// A sink sees each row once, in slices in the file's order, each slice already read when seen;
// the reader over memory shows it the same slices.
TEST(LoadBMP, ARowSinkSeesEveryRowOnceInFileOrder) {
  struct Seen {
    int starts = 0;
    std::vector<std::pair<int32_t, int32_t>> slices;  // first row, row count
    Bytes rows;  // the rows' bytes as the sink saw them, in the order seen
  };
  const auto start = [](void* context, const BMPImage&) { ++static_cast<Seen*>(context)->starts; };
  const auto rows = [](void* context, const BMPImage& image, int32_t firstRow, int32_t rowCount) {
    Seen& seen = *static_cast<Seen*>(context);
    seen.slices.push_back({firstRow, rowCount});
    const uint8_t* from = PixelAt(image, 0, firstRow);
    seen.rows.insert(seen.rows.end(), from, from + rowCount * image.rowStride);
  };
  // Several slices each: rows of 300 bytes, and rows of 16 bytes, read a slice in one piece.
  for (const Picture& picture : {Pattern(100, 3000, 24), Pattern(5, 60000, 24)})
    for (bool topDown : {false, true}) {
      TempDir dir;
      const Bytes file = EncodeBMP(picture, {topDown});
      WriteFile(dir.Path("in.bmp"), file);
      Seen seen, seenInMemory;
      const RowSink sink{&seen, start, rows}, memorySink{&seenInMemory, start, rows};
      BMPImage image{}, fromMemory{};
      ASSERT_EQ(LoadBMP(dir.Path("in.bmp").c_str(), image, &sink), 1);
      ASSERT_EQ(LoadBMPFromMemory(file.data(), file.size(), fromMemory, &memorySink), 1);
      EXPECT_EQ(seenInMemory.starts, 1);
      EXPECT_EQ(seenInMemory.slices, seen.slices);
      EXPECT_EQ(seenInMemory.rows, seen.rows);
      FreeBMP(fromMemory);
      EXPECT_EQ(seen.starts, 1);
      EXPECT_GT(seen.slices.size(), 2u);
      // Each slice follows the one before in the file's order; the last one ends the picture.
      int32_t next = topDown ? 0 : image.height;
      Bytes inMemory;
      for (const auto& [first, count] : seen.slices) {
        EXPECT_EQ(topDown ? first : first + count, next) << "slice at row " << first;
        next = topDown ? first + count : first;
        const uint8_t* from = PixelAt(image, 0, first);
        inMemory.insert(inMemory.end(), from, from + count * image.rowStride);
      }
      EXPECT_EQ(next, topDown ? image.height : 0);
      EXPECT_EQ(seen.rows, inMemory) << "a slice was seen before it was read";
      EXPECT_EQ(Packed(image), picture.bytes);
      FreeBMP(image);
    }
}

TEST(SaveBMP, RoundTripInBothDepthsAndRowOrders) {
  for (int32_t bits : {24, 32})
    for (bool topDown : {false, true}) {
      SCOPED_TRACE(testing::Message() << bits << (topDown ? " top-down" : " bottom-up"));
      const Picture picture = Pattern(5, 3, bits);
      const Bytes file = EncodeBMP(picture, {topDown});
      BMPImage image{}, whole{}, reloaded{};
      ASSERT_EQ(LoadBytes(file, image), 1);
      EXPECT_EQ(Packed(image), picture.bytes);
      // The headers as held, then the rows bottom row first with their fill bytes.
      TempDir dir;
      ASSERT_EQ(SaveBMP(dir.Path("saved.bmp").c_str(), image), 1);
      Bytes want = EncodeBMP(picture);
      PutLE32(want, kOffBiHeight, GetLE32(file, kOffBiHeight));
      EXPECT_EQ(ReadFile(dir.Path("saved.bmp")), want);
      // The same bytes into memory, and nothing into a block one byte short.
      Bytes inMemory(BMPFileSize(image), 0);
      ASSERT_EQ(WriteBMPToMemory(image, inMemory.data(), inMemory.size()), 1);
      EXPECT_EQ(inMemory, want);
      Bytes shorter(inMemory.size() - 1, 0);
      EXPECT_EQ(WriteBMPToMemory(image, shorter.data(), shorter.size()), 0);
      EXPECT_EQ(shorter, Bytes(shorter.size(), 0));
      // Through the crop, whose header declares the bottom-up order written, and back.
      ASSERT_EQ(ExtractFaceRegion(image, {0, 0, 5, 3}, whole), 1);
      ASSERT_EQ(SaveBMP(dir.Path("whole.bmp").c_str(), whole), 1);
      EXPECT_EQ(ReadFile(dir.Path("whole.bmp")).size(), size_t(kHeaderBytes + 3 * whole.rowStride));
      ASSERT_EQ(LoadBMP(dir.Path("whole.bmp").c_str(), reloaded), 1);
      EXPECT_EQ(Packed(reloaded), picture.bytes);
      FreeBMP(reloaded);
      FreeBMP(whole);
      FreeBMP(image);
    }
}

// A new plain file's headers: what a file of those pixels holds at 72 dpi, which the reader takes
// back; sizes beyond the 32-bit fields saturate and are refused.
TEST(DescribeBMP, HeadersOfANewPlainFile) {
  const struct {
    int32_t width, height, bytesPerPixel;
    int fits;
  } cases[] = {{5, 3, 3, 1},        {5, 3, 4, 1},         {1, 1, 3, 1},        {89478484, 1, 3, 1},
               {89478485, 1, 3, 0}, {1000, 715828, 3, 0}, {65536, 65536, 4, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "x" << c.bytesPerPixel);
    BMPImage image{};
    ASSERT_EQ(DescribeBMP(image, c.width, c.height, c.bytesPerPixel), c.fits);
    uint8_t header[kHeaderBytes];
    PackBMPHeaders(image, header);
    const uint64_t stride = (uint64_t(c.bytesPerPixel) * 8 * uint64_t(c.width) + 31) / 32 * 4;
    const uint64_t rows = stride * uint64_t(c.height);
    Bytes want = EncodeBMP(Picture(1, 1, c.bytesPerPixel * 8));
    want.resize(kHeaderBytes);
    PutLE32(want, kOffBiWidth, uint32_t(c.width));
    PutLE32(want, kOffBiHeight, uint32_t(c.height));
    PutLE32(want, kOffBiSizeImage, uint32_t(std::min<uint64_t>(rows, UINT32_MAX)));
    PutLE32(want, kOffBfSize, uint32_t(std::min<uint64_t>(rows + kHeaderBytes, UINT32_MAX)));
    PutLE32(want, 38, 2835);  // 72 dpi, both ways
    PutLE32(want, 42, 2835);
    EXPECT_EQ(Bytes(header, header + kHeaderBytes), want);
    BMPImage back{};
    UnpackBMPHeaders(header, back);
    EXPECT_EQ(CheckBMPHeader(back, rows + kHeaderBytes), c.fits);
    if (c.fits == 1) {
      EXPECT_EQ(Shape(back), Shape(image));
    }
  }
}

TEST(SaveBMP, UnusablePathsLeaveNoPicture) {
  BMPImage image = LoadPicture(Pattern(5, 3, 24)), none{};
  TempDir dir;
  for (const std::string& path : {std::string(), dir.path(), dir.Path("missing/x.bmp")}) {
    EXPECT_EQ(SaveBMP(path.c_str(), image), 0) << path;
    EXPECT_EQ(LoadBMP(path.c_str(), none), 0) << path;
  }
  EXPECT_EQ(SaveBMP(nullptr, image), 0);
  EXPECT_EQ(LoadBMP(nullptr, none), 0);
  FreeBMP(image);
}

#if defined(__unix__) || defined(__APPLE__)
// A write that fails (a file size limit, during the rows or at the header) cleans up only what the
// call made: a file it created is removed, a file that was there is emptied (never removed), a
// link stays a link and its target is emptied, a device is left alone.
TEST(SaveBMP, FailedWritesTouchOnlyWhatTheyOwn) {
  enum Setup { kNew, kExisting, kLinkToFile, kDevice };
  const struct {
    const char* name;
    Setup setup;
    int32_t width;
  } cases[] = {{
                   "new file, rows fail",
                   kNew,
                   400,
               },
               {"new file, small rows fail", kNew, 3},
               {"existing file", kExisting, 400},
               {"link to a file", kLinkToFile, 400},
               {"/dev/full", kDevice, 3}};
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string target = dir.Path("target.bmp"), link = dir.Path("link.bmp");
    std::remove(target.c_str());
    std::remove(link.c_str());
    std::string path = target;
    if (c.setup != kNew && c.setup != kDevice) WriteFile(target, Bytes(10, 1));
    if (c.setup == kLinkToFile) {
      ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
      path = link;
    }
    struct stat st;
    if (c.setup == kDevice) {
      if (stat("/dev/full", &st) != 0) continue;
      path = "/dev/full";
    }
    BMPImage big = LoadPicture(Pattern(c.width, 20, 24));
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit limited = old;
    limited.rlim_cur = 60;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const int saved = SaveBMP(path.c_str(), big);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    FreeBMP(big);
    EXPECT_EQ(saved, 0);
    switch (c.setup) {
      case kNew:
        EXPECT_FALSE(FileExists(target));
        break;
      case kExisting:
      case kLinkToFile:
        EXPECT_TRUE(stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0);
        if (c.setup == kLinkToFile) {
          EXPECT_TRUE(lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
        }
        break;
      case kDevice:
        EXPECT_TRUE(stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode));
        break;
    }
  }
}

// Opening an input never waits: a FIFO (which would block until a writer came) and a device are
// refused from the opened file's type, by the reader and by the export.
TEST(LoadBMP, FifosAndDevicesAreRefusedAtOnce) {
  TempDir dir;
  const std::string fifo = dir.Path("fifo.bmp");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero"), std::string("/dev/null")}) {
    BMPImage image{};
    auto loading = std::async(std::launch::async, [&] { return LoadBMP(path.c_str(), image); });
    if (loading.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      ADD_FAILURE() << path << ": LoadBMP blocked";
      const int unblock = open(fifo.c_str(), O_WRONLY);  // lets the blocked open return
      close(unblock);
    }
    EXPECT_EQ(loading.get(), 0) << path;
  }
}
#endif

#if defined(__unix__) || defined(__APPLE__)
// Rows move through a pipe that delivers a few bytes at a time, so reads end inside rows and
// must resume there; a pipe closed early is a failed read.
TEST(PlatformRows, ShortTransfersResumeAndEarlyEndsFail) {
  const size_t rowBytes = 13, rowCount = 9;
  Bytes memory(rowBytes * rowCount);
  for (size_t i = 0; i < memory.size(); ++i) memory[i] = uint8_t(i * 7 + 3);
  for (int bottomUp : {0, 1})
    for (size_t sent : {memory.size(), memory.size() - 5}) {
      SCOPED_TRACE(testing::Message() << "bottomUp " << bottomUp << ", " << sent << " bytes sent");
      int ends[2];
      ASSERT_EQ(pipe(ends), 0);
      // The file's order: the memory's rows reversed when bottom-up.
      Bytes file;
      for (size_t k = 0; k < rowCount; ++k) {
        const size_t row = bottomUp ? rowCount - 1 - k : k;
        file.insert(file.end(), memory.begin() + long(row * rowBytes),
                    memory.begin() + long((row + 1) * rowBytes));
      }
      std::thread writer([&] {
        for (size_t at = 0; at < sent; at += 5) {
          EXPECT_GT(write(ends[1], file.data() + at, std::min<size_t>(5, sent - at)), 0);
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        close(ends[1]);
      });
      PlatformFile* in = fdopen(ends[0], "rb");
      Bytes read(memory.size());
      const int ok = PlatformReadRows(in, read.data(), rowBytes, rowCount, bottomUp);
      writer.join();
      fclose(in);
      EXPECT_EQ(ok, sent == memory.size() ? 1 : 0);
      if (ok == 1) {
        EXPECT_EQ(read, memory);
      }

      TempDir dir;
      int created = 0;
      PlatformFile* out = PlatformOpenWrite(dir.Path("rows").c_str(), created);
      ASSERT_NE(out, nullptr);
      ASSERT_EQ(PlatformWriteRows(out, memory.data(), rowBytes, rowCount, bottomUp), 1);
      ASSERT_EQ(PlatformFinishWrite(out, dir.Path("rows").c_str(), created, 1), 1);
      EXPECT_EQ(ReadFile(dir.Path("rows")), file);
    }
}
#endif

TEST(PixelAt, NullOutsideAddressInside) {
  BMPImage image = LoadPicture(Pattern(5, 3, 24));  // rows of 16 bytes
  for (auto [x, y] : {std::pair{-1, 0}, {5, 0}, {0, -1}, {0, 3}, {INT32_MIN, 0}, {0, INT32_MAX}})
    EXPECT_EQ(PixelAt(image, x, y), nullptr) << x << ", " << y;
  EXPECT_EQ(PixelAt(static_cast<const BMPImage&>(image), 4, 2), image.pixels + 4 * 3 + 2 * 16);
  EXPECT_EQ(PixelAt(image, 1, 1), image.pixels + 3 + 16);
  FreeBMP(image);
}

TEST(ExtractFaceRegion, PixelsAndHeadersForEachKindOfSource) {
  const struct {
    const char* name;
    int32_t bits;
    EncodeOptions options;
    bool plain;  // bfOffBits 54, biSize 40, biCompression 0: headers carried over
  } sources[] = {{"plain24", 24, {}, true},
                 {"plain32_top_down", 32, {true}, true},
                 {"gap24", 24, {false, 6}, false},
                 {"v5_bitfields32", 32, {false, 0, 124, 3}, false},
                 {"compression_flag24", 24, {false, 0, 40, 1}, false}};
  const FaceRect rects[] = {{1, 1, 3, 2},  {0, 0, 6, 4},   {4, 2, 4, 4}, {-2, -1, 4, 3},
                            {10, 1, 2, 2}, {-1, -1, 8, 6}, {0, -5, 5, 2}};
  for (const auto& s : sources) {
    const Picture picture = Pattern(6, 4, s.bits);
    Bytes file = EncodeBMP(picture, s.options);
    for (size_t offset : {6, 38, 42, 46, 50}) PutLE32(file, offset, uint32_t(0x9E000000 + offset));
    BMPImage source{};
    ASSERT_EQ(LoadBytes(file, source), 1);
    for (const FaceRect& r : rects) {
      SCOPED_TRACE(testing::Message()
                   << s.name << " " << r.x << "," << r.y << " " << r.width << "x" << r.height);
      BMPImage out{};
      ASSERT_EQ(ExtractFaceRegion(source, r, out), 1);
      const int32_t bpp = s.bits / 8, stride = (s.bits * r.width + 31) / 32 * 4;
      ASSERT_EQ(Shape(out), (std::vector<int32_t>{r.width, r.height, bpp, stride}));
      Bytes want(file.begin(), file.begin() + kHeaderBytes);
      PutLE32(want, kOffBiWidth, uint32_t(r.width));
      PutLE32(want, kOffBiHeight, uint32_t(r.height));
      PutLE32(want, kOffBiSizeImage, uint32_t(r.height * stride));
      if (!s.plain) {
        PutLE32(want, kOffBfOffBits, kHeaderBytes);
        PutLE32(want, kOffBiSize, kInfoHeaderBytes);
        PutLE32(want, kOffBiCompression, 0);
      }
      PutLE32(want, kOffBfSize, GetLE32(want, kOffBfOffBits) + uint32_t(r.height * stride));
      uint8_t header[kHeaderBytes];
      PackBMPHeaders(out, header);
      EXPECT_EQ(Bytes(header, header + kHeaderBytes), want);
      // Source pixels (fourth bytes included) where the rectangle meets the source, zero
      // elsewhere and in the row fill.
      Bytes pixels(size_t(r.height * stride), 0);
      for (int32_t i = 0; i < r.height; ++i)
        for (int32_t j = 0; j < r.width; ++j)
          if (r.x + j >= 0 && r.x + j < 6 && r.y + i >= 0 && r.y + i < 4)
            std::copy_n(picture.At(r.x + j, r.y + i), bpp, pixels.begin() + i * stride + j * bpp);
      EXPECT_EQ(Bytes(out.pixels, out.pixels + pixels.size()), pixels);
      FreeBMP(out);
    }
    FreeBMP(source);
  }
}

TEST(ExtractFaceRegion, RefusesRectanglesWithoutAreaOrBeyondRange) {
  BMPImage source = LoadPicture(Pattern(4, 4, 24));
  const FaceRect rects[] = {{0, 0, 0, 2},         {0, 0, 2, 0},        {0, 0, -1, 2},
                            {0, 0, 2, INT32_MIN}, {0, 0, 89478485, 1}, {0, 0, 1000, 715828}};
  for (const FaceRect& r : rects) {
    uint8_t sentinel = 0;
    BMPImage out{};
    out.pixels = &sentinel;
    PlatformFailRequest(0);
    EXPECT_EQ(ExtractFaceRegion(source, r, out), 0) << r.width << "x" << r.height;
    EXPECT_EQ(out.pixels, nullptr);
    EXPECT_EQ(PlatformRequestCount(), 0);
  }
  FreeBMP(source);
}

// Large blocks a thread gives back are kept for its next request: one that comes back through
// calloc (or grows through realloc) must hold zeros (its old contents) and nothing of the last
// user's, whatever its size against the kept block's.
TEST(PlatformMemory, KeptBlocksComeBackZeroedForCalloc) {
  const size_t sizes[] = {size_t{1} << 20,  size_t{5} << 20, size_t{36} << 20,
                          size_t{40} << 20, size_t{5} << 20, size_t{300} << 10};
  for (const size_t size : sizes) {
    SCOPED_TRACE(size);
    auto* used = static_cast<uint8_t*>(PlatformMalloc(size));
    ASSERT_NE(used, nullptr);
    std::fill(used, used + size, 0xAB);
    PlatformFree(used);
    auto* zeroed = static_cast<uint8_t*>(PlatformCalloc(size, 1));
    ASSERT_NE(zeroed, nullptr);
    EXPECT_EQ(std::count(zeroed, zeroed + size, 0), static_cast<ptrdiff_t>(size));
    zeroed[size - 1] = 7;
    auto* grown = static_cast<uint8_t*>(PlatformRealloc(zeroed, size + (size_t{1} << 20)));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(grown[size - 1], 7);
    PlatformFree(grown);
  }
}

// Fails the n-th memory request of the reader and of the crop for n = 1, 2, ... until a run
// gets through: each failing run returns 0 and leaves no buffer behind (ASan reports a leak).
TEST(MemoryFailure, EachRequestOfTheReaderAndTheCrop) {
  TempDir dir;
  const std::string path = dir.Path("in.bmp");
  WriteFile(path, EncodeBMP(Pattern(7, 5, 32), {true, 4, 124, 3}));
  BMPImage source{}, out{};
  uint8_t sentinel = 0;
  const std::pair<BMPImage*, std::function<int()>> calls[] = {
      {&source, [&] { return LoadBMP(path.c_str(), source); }},
      {&out, [&] {
         return out.pixels = &sentinel, ExtractFaceRegion(source, {-1, 2, 5, 6}, out);
       }}};
  for (const auto& [image, call] : calls)
    for (long n = 1;; ++n) {
      PlatformFailRequest(n);
      const int ok = call();
      const long made = PlatformRequestCount();
      PlatformFailRequest(0);
      if (made < n) {
        EXPECT_TRUE(ok == 1 && n > 1) << "after " << made << " requests";
        break;
      }
      EXPECT_EQ(ok, 0) << "request " << n;
      EXPECT_EQ(image->pixels, nullptr) << "request " << n;
    }
  FreeBMP(out);
  FreeBMP(source);
}

}  // namespace
}  // namespace bmpface::test
