// The command's JSON: one object per line, for batch reports and `--detect --json`.
#ifndef BMPFACE_TOOLS_JSON_H_
#define BMPFACE_TOOLS_JSON_H_

#include <cstdint>
#include <string>

#include "api/outcomes.h"
#include "detect/face_search.h"
#include "image/crop.h"
#include "photo/photo.h"

namespace bmpface::cli {

// `text` as a JSON string literal, quotes included. Valid UTF-8 passes unchanged (control
// characters, quotes and backslashes escaped); each byte that is not part of a valid UTF-8
// sequence becomes U+FFFD, so that every line is valid JSON for any strict parser.
std::string JsonString(const std::string& text);

// True when `text` is valid UTF-8 (no overlong forms, surrogates or code points past U+10FFFF).
bool IsValidUTF8(const std::string& text);

// The bytes of `text` as lower-case hexadecimal, two digits a byte.
std::string Hex(const std::string& text);

// An object built field by field, in the order given.
class JsonLine {
 public:
  JsonLine& String(const char* key, const std::string& value);
  // A file name: the string, and when the name is not valid UTF-8 also `key`_hex with its exact
  // bytes, from which it can be recovered.
  JsonLine& Name(const char* key, const std::string& value);
  JsonLine& Int(const char* key, int64_t value);
  JsonLine& Null(const char* key);
  JsonLine& Bool(const char* key, bool value);
  // A number with `digits` significant digits; null when it is not finite.
  JsonLine& Number(const char* key, double value, int digits);
  // Another object as the value.
  JsonLine& Object(const char* key, const JsonLine& value);
  // x, y, width and height.
  JsonLine& Rect(const FaceRect& rect);
  // The object and its newline.
  std::string Finish() const;

 private:
  JsonLine& Key(const char* key);
  std::string text_ = "{";
};

// The facts of the search's choice, for every line that reports a picture the search ran on:
// "region" (the chosen region's box, pixels, fill, score and the runner-up's score) when one was
// chosen, then "candidates" and "skin_share".
JsonLine& AddSearchFacts(JsonLine& line, const SearchFacts& facts);

// With --verify, for a picture whose region was checked: "verified", and when it is true "face",
// the face the detector found.
JsonLine& AddVerification(JsonLine& line, bool verified, const FaceRect& face);

// A picture's answer, the one shape of --detect --json and the service's /v1/detect: its word, the
// rectangle with a face, `error` when it could not be read (else the search's facts), and with
// --verify the verification.
JsonLine& AddAnswer(JsonLine& line, Outcome outcome, const FaceRect& rect,
                    const photo::PhotoRequest& request, const std::string& error);

}  // namespace bmpface::cli

#endif  // BMPFACE_TOOLS_JSON_H_
