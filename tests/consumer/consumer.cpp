// Crops argv[1] into argv[2] (ASCII paths); exits 0 only on status 999.
#include <bmpface.h>

#include <string>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string in = argv[1], out = argv[2];
  const std::wstring input(in.begin(), in.end()), output(out.begin(), out.end());
  return ::BMPFaceExtract(input.c_str(), output.c_str()) == 999 ? 0 : 1;
}
