/* Crops argv[1] into argv[2] (ASCII paths); exits 0 only on status 999. */
#include <bmpface.h>
#include <string.h>

int main(int argc, char** argv) {
  wchar_t input[4096], output[4096];
  size_t i;
  if (argc != 3 || strlen(argv[1]) >= 4096 || strlen(argv[2]) >= 4096) return 2;
  for (i = 0; i <= strlen(argv[1]); ++i) input[i] = (wchar_t)argv[1][i];
  for (i = 0; i <= strlen(argv[2]); ++i) output[i] = (wchar_t)argv[2][i];
  return BMPFaceExtract(input, output) == BMPFACE_OK ? 0 : 1;
}
