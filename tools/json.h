// The command's JSON: one object per line, for batch reports and `--detect --json`.
#ifndef BMPFACE_TOOLS_JSON_H_
#define BMPFACE_TOOLS_JSON_H_

#include <cstdint>
#include <string>

#include "image/crop.h"

namespace bmpface::cli {

// `text` as a JSON string literal, quotes included.
std::string JsonString(const std::string& text);

// An object built field by field, in the order given.
class JsonLine {
 public:
  JsonLine& String(const char* key, const std::string& value);
  JsonLine& Int(const char* key, int64_t value);
  JsonLine& Null(const char* key);
  // x, y, width and height.
  JsonLine& Rect(const FaceRect& rect);
  // The object and its newline.
  std::string Finish() const;

 private:
  JsonLine& Key(const char* key);
  std::string text_ = "{";
};

}  // namespace bmpface::cli

#endif  // BMPFACE_TOOLS_JSON_H_
