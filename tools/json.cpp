#include "json.h"

#include <cmath>
#include <cstdio>

namespace bmpface::cli {

namespace {

// The length of the valid UTF-8 sequence at text[i], or 0 when the byte there starts none.
size_t SequenceAt(const std::string& text, size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) return 1;
  const size_t length = (lead >> 5) == 0x06   ? 2
                        : (lead >> 4) == 0x0E ? 3
                        : (lead >> 3) == 0x1E ? 4
                                              : 0;
  if (length == 0 || text.size() - i < length) return 0;
  uint32_t c = lead & (0x7Fu >> length);
  for (size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    c = c << 6 | (next & 0x3Fu);
  }
  static constexpr uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kLeast[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

bool IsValidUTF8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const size_t n = SequenceAt(text, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string Hex(const std::string& text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() * 2);
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    out += kDigits[c >> 4];
    out += kDigits[c & 0x0F];
  }
  return out;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const size_t n = SequenceAt(text, i);
    const auto c = static_cast<unsigned char>(text[i]);
    if (n == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += text[i];
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out.append(text, i, n);
    }
    i += n;
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

JsonLine& JsonLine::Name(const char* key, const std::string& value) {
  String(key, value);
  if (!IsValidUTF8(value)) String((std::string(key) + "_hex").c_str(), Hex(value));
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

JsonLine& JsonLine::Bool(const char* key, bool value) {
  Key(key).text_ += value ? "true" : "false";
  return *this;
}

JsonLine& JsonLine::Number(const char* key, double value, int digits) {
  if (!std::isfinite(value)) return Null(key);
  char text[40];
  std::snprintf(text, sizeof text, "%.*g", digits, value);
  Key(key).text_ += text;
  return *this;
}

JsonLine& JsonLine::Object(const char* key, const JsonLine& value) {
  Key(key).text_ += value.text_ + "}";
  return *this;
}

JsonLine& AddSearchFacts(JsonLine& line, const SearchFacts& facts) {
  // Scores are single precision: 7 digits say all they hold. Shares need no more than 4.
  constexpr int kScoreDigits = 7;
  constexpr int kShareDigits = 4;
  if (facts.found) {
    const SkinRegion& r = facts.chosen;
    JsonLine region;
    region.Rect({r.minX, r.minY, r.maxX - r.minX + 1, r.maxY - r.minY + 1})
        .Int("pixels", r.pixelCount)
        .Number("fill", RegionFill(r), kShareDigits)
        .Number("score", facts.score, kScoreDigits)
        .Number("runner_up", facts.runnerUp, kScoreDigits);
    line.Object("region", region);
  }
  return line.Int("candidates", facts.candidates)
      .Number("skin_share", SkinShare(facts), kShareDigits);
}

JsonLine& AddVerification(JsonLine& line, bool verified, const FaceRect& face) {
  line.Bool("verified", verified);
  if (!verified) return line;
  JsonLine box;
  box.Rect(face);
  return line.Object("face", box);
}

JsonLine& JsonLine::Rect(const FaceRect& rect) {
  return Int("x", rect.x).Int("y", rect.y).Int("width", rect.width).Int("height", rect.height);
}

std::string JsonLine::Finish() const { return text_ + "}\n"; }

JsonLine& AddAnswer(JsonLine& line, Outcome outcome, const FaceRect& rect,
                    const photo::PhotoRequest& request, const std::string& error) {
  line.String("status", FactsOf(outcome).word);
  if (outcome == Outcome::kFaceFound) line.Rect(rect);
  if (outcome == Outcome::kLoadFailed) {
    line.String("error", error);
  } else {
    AddSearchFacts(line, request.facts);
  }
  if (request.options != nullptr && request.options->verify && request.facts.found) {
    AddVerification(line, request.verified, request.verifiedFace);
  }
  return line;
}

}  // namespace bmpface::cli
