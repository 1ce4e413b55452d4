// Under -Json, standard output is one JSON document and nothing else: what the
// tool would print meanwhile (the option parser's notes) goes into it.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "tool/output_blocks.h"
#include "vxcore/console_output.h"

// Keys in the order they are written, so that documents read naturally.
using Json = nlohmann::ordered_json;

// Exit statuses under -Json.
enum JsonStatus {
  JsonDone = 0,       // done, or found
  JsonNotFound = 1,   // not found, nothing to delete, nothing matched
  JsonRefused = 2,    // bad usage or a refused value
  JsonNotSaved = 3,   // the change could not be saved
  OutputLost = 4,     // standard output failed: what was printed is not all there
};

class JsonOutput : public core::OutputSink {
 public:
  // Keeps every print from now on, to become notes.
  JsonOutput();
  ~JsonOutput() override;
  // For a run without -Json: writes out what was kept, as it was printed,
  // and prints go straight out again.
  void Release();
  // Whether anything was printed since, to become notes or be released.
  bool HoldsNotes() const { return !captured_.empty(); }
  JsonOutput(const JsonOutput&) = delete;
  JsonOutput& operator=(const JsonOutput&) = delete;

  void Write(const char* data, size_t size) override;

  // Writes `document`, with the notes so far under "notes", and a line break.
  void Print(Json document);

  // For a document written piece by piece: its text goes straight out. The
  // notes so far, as a JSON array, for the writer to place.
  void PrintRaw(std::string_view text);
  Json TakeNotes();

 private:
  core::OutputSink* previous_;
  bool capturing_ = true;
  std::string captured_;
};

// Puts `bytes` under `field` as a string, or when they are not UTF-8 as hex
// under `field` + "_hex", so that every byte string comes back whole.
void PutBytes(Json& object, const char* field, std::string_view bytes);

// A document written piece by piece, where a JSON object per piece would cost
// more than the listing itself; its blocks go out through
// `JsonOutput::PrintRaw`.
class JsonBlocks : public OutputBlocks {
 public:
  explicit JsonBlocks(JsonOutput& json)
      : OutputBlocks(
            [](void* target, std::string_view bytes) {
              static_cast<JsonOutput*>(target)->PrintRaw(bytes);
            },
            &json) {}

  // Puts `"field":"bytes"`, escaped, or `"field_hex":"..."` when the bytes
  // are not UTF-8: PutBytes for a document written piece by piece.
  void PutBytesField(std::string_view field, std::string_view bytes);
};

// The compact text of `value`.
std::string JsonText(const Json& value);
