// A settings document: the store's own file format, whose keys may also name
// keys and values to delete. Import reads one; Export writes one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace cfgkit {
struct ValueView;
}

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

// Builds a document of values under a root key. In walk order the sections
// come depth first, a key's values before its subkeys, siblings and names
// ascending, and the document is written as they come; in any order a tree is
// built and written at the end.
class SettingsDocumentWriter {
 public:
  enum class Order { kWalk, kAny };

  SettingsDocumentWriter(std::string_view rootName, Order order);
  ~SettingsDocumentWriter();
  SettingsDocumentWriter(const SettingsDocumentWriter&) = delete;
  SettingsDocumentWriter& operator=(const SettingsDocumentWriter&) = delete;

  // `section` is a key path below the root, split as the store splits paths.
  void AddString(std::string_view section, std::string_view name, std::string_view text);
  void AddInteger(std::string_view section, std::string_view name, int32_t number);

  // False once a value came out of walk order: the document cannot be
  // written as it came, and must be built again in any order.
  bool InOrder() const;

  // The whole document, with its XML declaration, in pieces to be joined in
  // order; valid while the writer is.
  std::vector<std::string_view> Finish();

 private:
  struct Tree;
  struct Stream;
  void Add(std::string_view section, const cfgkit::ValueView& value);

  std::unique_ptr<Tree> tree_;
  std::unique_ptr<Stream> stream_;
};
