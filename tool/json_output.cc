#include "tool/json_output.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "registry/byte_text.h"

JsonOutput::JsonOutput() : previous_(core::SetOutputSink(this)) {}

JsonOutput::~JsonOutput() {
  if (capturing_) core::SetOutputSink(previous_);
}

void JsonOutput::Release() {
  if (!capturing_) return;
  capturing_ = false;
  core::SetOutputSink(previous_);
  core::PrintBytes(captured_);
  captured_.clear();
}

void JsonOutput::Write(const char* data, size_t size) { captured_.append(data, size); }

Json JsonOutput::TakeNotes() {
  Json notes = Json::array();
  std::string_view rest = captured_;
  while (!rest.empty()) {
    size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    Json holder = Json::object();
    PutBytes(holder, "text", line);
    notes.push_back(holder.contains("text") ? holder["text"] : holder);
  }
  captured_.clear();
  return notes;
}

void JsonOutput::Print(Json document) {
  Json notes = TakeNotes();
  if (!notes.empty()) document["notes"] = std::move(notes);
  PrintRaw(JsonText(document) + "\n");
}

void JsonOutput::PrintRaw(std::string_view text) {
  core::SetOutputSink(previous_);
  core::PrintBytes(text);
  core::SetOutputSink(this);
}

void PutBytes(Json& object, const char* field, std::string_view bytes) {
  if (IsValidUtf8(bytes)) {
    object[field] = std::string(bytes);
  } else {
    object[std::string(field) + "_hex"] = HexEncode(bytes);
  }
}

using namespace std::string_view_literals;

namespace {

// The bytes a JSON string holds as they are: printable ASCII but the quote
// and the backslash. The rest is escaped, or (from 0x80 on) checked as UTF-8.
constexpr std::array<bool, 256> kPlainAscii = [] {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 0x80; ++c) plain[c] = c != '"' && c != '\\';
  return plain;
}();

// Whether any of the eight bytes of `word` is not plain ASCII: below 0x20,
// from 0x80 on, a quote or a backslash. (A byte below n shows as the high bit
// of (byte - n) & ~byte, with no byte from 0x80 on to borrow from.)
bool AnyNotPlain(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101, kHigh = kOnes * 0x80;
  auto below = [](uint64_t bytes, uint64_t n) { return (bytes - kOnes * n) & ~bytes & kHigh; };
  return ((word & kHigh) | below(word, 0x20) | below(word ^ (kOnes * '"'), 1) |
          below(word ^ (kOnes * '\\'), 1)) != 0;
}

}  // namespace

void JsonBlocks::PutBytesField(std::string_view field, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  // The most either form takes: six bytes for each byte escaped as \u00XX.
  char* const start = Room(field.size() + 10 + 6 * bytes.size());
  char* out = start;
  *out++ = '"';
  out = Copy(out, field);
  out = Copy(out, "\":\""sv);
  // One pass over the bytes: the UTF-8 check waits for the first byte that
  // is not ASCII, which most texts never have.
  bool utf8 = false;
  size_t plain = 0;  // start of the run not yet copied
  for (size_t i = 0; i < bytes.size(); ++i) {
    // Eight plain bytes at a time: most texts hold nothing else.
    uint64_t word;
    while (i + sizeof word <= bytes.size() &&
           (std::memcpy(&word, bytes.data() + i, sizeof word), !AnyNotPlain(word))) {
      i += sizeof word;
    }
    // The last eight bytes, overlapping the ones before, end most texts at once.
    if (i + sizeof word > bytes.size() && bytes.size() >= sizeof word &&
        (std::memcpy(&word, bytes.data() + bytes.size() - sizeof word, sizeof word),
         !AnyNotPlain(word))) {
      i = bytes.size();
    }
    if (i == bytes.size()) break;
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (kPlainAscii[c]) continue;
    if (c >= 0x80) {
      if (utf8) continue;
      if (!IsValidUtf8(bytes)) {
        out = start;
        *out++ = '"';
        out = Copy(out, field);
        out = Copy(out, "_hex\":\""sv);
        out = Copy(out, HexEncode(bytes));
        *out++ = '"';
        Written(out);
        return;
      }
      utf8 = true;
      continue;
    }
    out = Copy(out, bytes.substr(plain, i - plain));
    plain = i + 1;
    *out++ = '\\';
    switch (c) {
      case '"':
      case '\\':
        *out++ = static_cast<char>(c);
        break;
      case '\n':
        *out++ = 'n';
        break;
      case '\t':
        *out++ = 't';
        break;
      case '\r':
        *out++ = 'r';
        break;
      default:
        out = Copy(out, "u00"sv);
        *out++ = kHex[c >> 4];
        *out++ = kHex[c & 0xF];
        break;
    }
  }
  out = Copy(out, bytes.substr(plain));
  *out++ = '"';
  Written(out);
}

std::string JsonText(const Json& value) {
  // Every string was checked by PutBytes; replacing is only a guard.
  return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}
