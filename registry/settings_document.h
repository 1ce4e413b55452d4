// A settings document: the store's own file format, whose keys may also name
// keys and values to delete. Import reads one; Export writes one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct DocumentEntry {
  std::string section;  // "a/b", relative to the product's key; "" at the top
  std::string name;
  bool isRemoval;
  bool removesKey;   // a removal of the key section/name, not of a value
  int type;          // 2 or 4 for a value
  std::string text;  // a string value, or an integer's decimal text
};

// Why a document could not be used; `reason` is empty when it could.
struct DocumentProblem {
  bool damaged = false;  // its bytes, not its file: the reason has its line and column
  std::string reason;
  bool ok() const { return reason.empty(); }
};

// Reads the document at `path` ("-": standard input) into `entries`, removals
// first, then values, key by key.
DocumentProblem ReadSettingsDocument(const std::string& path, std::vector<DocumentEntry>* entries);

// Builds a document of values under a root key, section by section in any
// order, and writes it out in one piece.
class SettingsDocumentWriter {
 public:
  explicit SettingsDocumentWriter(std::string_view rootName);
  ~SettingsDocumentWriter();
  SettingsDocumentWriter(const SettingsDocumentWriter&) = delete;
  SettingsDocumentWriter& operator=(const SettingsDocumentWriter&) = delete;

  // `section` is a key path below the root, split as the store splits paths.
  void AddString(std::string_view section, std::string_view name, std::string_view text);
  void AddInteger(std::string_view section, std::string_view name, int32_t number);

  // The whole document, with its XML declaration.
  std::string Text() const;

 private:
  struct Keys;
  std::unique_ptr<Keys> keys_;
};
