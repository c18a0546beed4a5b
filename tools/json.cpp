#include "json.h"

#include <cstdio>

namespace bmpface::cli {

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

JsonLine& JsonLine::Key(const char* key) {
  if (text_.size() > 1) text_ += ',';
  text_ += JsonString(key);
  text_ += ':';
  return *this;
}

JsonLine& JsonLine::String(const char* key, const std::string& value) {
  Key(key).text_ += JsonString(value);
  return *this;
}

JsonLine& JsonLine::Int(const char* key, int64_t value) {
  Key(key).text_ += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::Null(const char* key) {
  Key(key).text_ += "null";
  return *this;
}

JsonLine& JsonLine::Rect(const FaceRect& rect) {
  return Int("x", rect.x).Int("y", rect.y).Int("width", rect.width).Int("height", rect.height);
}

std::string JsonLine::Finish() const { return text_ + "}\n"; }

}  // namespace bmpface::cli
