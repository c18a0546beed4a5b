// Writes dlib's frontal face model, as dlib itself stores it, into a C++ source file: the module
// then reads it in a few milliseconds, where get_frontal_face_detector() takes a third of a
// second to unpack the compressed copy in dlib's header on every start.
//   bmpface-dlib-model-gen OUTPUT.cpp
#include <dlib/image_processing/frontal_face_detector.h>

#include <cstdio>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bmpface-dlib-model-gen OUTPUT.cpp\n");
    return 64;
  }
  std::ostringstream model;
  dlib::serialize(dlib::get_frontal_face_detector(), model);
  const std::string bytes = model.str();
  std::FILE* out = std::fopen(argv[1], "w");
  if (out == nullptr) return 1;
  std::fprintf(out,
               "// Made by bmpface-dlib-model-gen from dlib's frontal face model.\n"
               "#include <cstddef>\n\n"
               "namespace bmpface::verify {\n\n"
               "extern const unsigned char kFrontalFaceModel[] = {");
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::fprintf(out, "%s%u,", i % 24 == 0 ? "\n" : "", static_cast<unsigned char>(bytes[i]));
  }
  std::fprintf(out, "\n};\nextern const size_t kFrontalFaceModelSize = %zu;\n\n", bytes.size());
  std::fprintf(out, "}  // namespace bmpface::verify\n");
  return std::fclose(out) == 0 ? 0 : 1;
}
