// Reading and writing one store file: the XML form of one top-level key.
// This is the only place that knows pugixml.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cfgkit/file_ops.h"
#include "cfgkit/image_body.h"
#include "cfgkit/key_tree.h"

namespace cfgkit {

// Keys nested deeper than this below their top-level key make a file damaged,
// and cannot be created, so every file the store writes loads again.
constexpr size_t kMaxKeyDepth = 512;

// Parses the content of the store file of the top-level key `keyName` into
// `*body`, the image of that key with everything below it. `bytes` is used as
// scratch space and left unspecified. On failure `*body` is empty and the
// Corruption status gives the reason (with the byte offset where the parser
// knows it).
Status ParseKeyFile(std::string* bytes, const std::string& keyName, ImageBody* body);

// A removal that a settings document asks for: of the value or the subkey
// called by the pool text at nameOffset in the body's key `key`.
struct Removal {
  uint32_t key;
  uint32_t nameOffset, nameLength;
  bool ofKey;
};

// Parses a settings document: the store file format with a root of any name,
// whose keys may also hold <delete type="value|key" name="..."/> elements
// (or hexname). The body's top key is named `rootName`.
Status ParseSettingsDocument(std::string* bytes, const std::string& rootName, ImageBody* body,
                             std::vector<Removal>* removals);

// The file content for the top-level key `topKey`, in the writer's fixed
// layout: declaration, two blanks of indent per level, one element per line,
// values before subkeys, a final line break. `sizeHint`, the expected size
// (say, that of the file's last version), saves regrowing a large result.
std::string SerializeKey(const KeyTree& tree, KeyId topKey, size_t sizeHint = 0);

// Writes that layout as a depth-first walk reaches each key, so that content
// in walk order needs no tree: open a key, add its values, open its subkeys,
// close it.
class XmlKeyWriter {
 public:
  // Starts with the declaration; `sizeHint` as for SerializeKey.
  explicit XmlKeyWriter(size_t sizeHint = 0);

  void OpenKey(std::string_view name);    // the top key, or a subkey of the open key
  void AddValue(const ValueView& value);  // to the open key, before its subkeys
  void CloseKey();

  // What was written so far, in order, in pieces; valid until the next call.
  std::vector<std::string_view> Pieces() const;

 private:
  void EndStartTag();
  template <class... Texts>
  void AppendLine(size_t depth, const Texts&... pieces);

  // Lines are written through a pointer, and a full chunk is followed by a
  // larger one rather than copied: growing a string line by line would cost
  // more than most lines' bytes.
  struct Chunk {
    std::unique_ptr<char[]> bytes;
    size_t size, capacity;
  };
  std::vector<Chunk> chunks_;
  size_t depth_ = 0;           // keys open
  bool startTagOpen_ = false;  // the last key opened has nothing yet: "/>" if it stays so
};

}  // namespace cfgkit
