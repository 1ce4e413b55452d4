#include "cfgkit/xml_codec.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cfgkit/key_path.h"
#include "cfgkit/xml_text.h"
#include "fsio/content_hash.h"

namespace cfgkit {

using namespace std::string_view_literals;

namespace {

// Comments and processing instructions are skipped; the declaration and a
// DOCTYPE are kept to be checked. As a fragment, text outside the root element
// is kept too, to be found. References are decoded here, not by pugixml, which
// keeps one it does not know as it stands, so that it could not be told from
// an escaped `&`. An element's first child, when it is text, is kept as the
// element's value: most elements hold one text, and a node each would double
// the memory of the parse.
constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_eol |
                                   pugi::parse_wconv_attribute | pugi::parse_fragment |
                                   pugi::parse_declaration | pugi::parse_doctype |
                                   pugi::parse_embed_pcdata;

// Whether a value's text may have a blank run next to a comment, processing
// instruction or CDATA section, which is part of the text. Only then are all
// blank runs kept: else the ones parse_ws_pcdata_single drops lie between
// elements, where they mean nothing, and a file as the store writes it is
// spared a node per line. Such markup is found by its `!` or `?`, rarer than
// `<`; what starts the file (the writer's declaration) is outside every value.
bool MayHaveMarkupInText(std::string_view bytes) {
  for (char mark : {'!', '?'}) {
    for (size_t i = bytes.find(mark); i != std::string_view::npos; i = bytes.find(mark, i + 1)) {
      if (i > 1 && bytes[i - 1] == '<') return true;
    }
  }
  return false;
}

// Whether the C string `name` is `expected`. Inline: called for every element
// and attribute, where a call to strcmp costs more than the comparison.
bool NameIs(const char* name, std::string_view expected) {
  for (char c : expected) {
    if (*name++ != c) return false;
  }
  return *name == '\0';
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view TrimXmlSpace(std::string_view text) {
  while (!text.empty() && IsXmlSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsXmlSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool IsBlank(std::string_view text) { return TrimXmlSpace(text).empty(); }

bool IsUtf8Name(std::string_view name) {
  constexpr std::string_view kUtf8 = "utf-8";
  return name.size() == kUtf8.size() &&
         std::equal(name.begin(), name.end(), kUtf8.begin(),
                    [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b; });
}

// Decimal text with an optional '-' in -2147483648..4294967295, as its 32-bit pattern.
std::optional<uint32_t> ParseInt32(std::string_view text) {
  text = TrimXmlSpace(text);
  bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  uint64_t magnitude = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    magnitude = magnitude * 10 + static_cast<uint64_t>(c - '0');
    if (magnitude > 4294967295ull) return std::nullopt;
  }
  if (negative && magnitude > 2147483648ull) return std::nullopt;
  return static_cast<uint32_t>(negative ? 0 - magnitude : magnitude);
}

// The names of one key's subkeys, or of its values, to find a duplicate
// without a set per key: a slot counts only when it bears the current
// generation, so starting over for the next key costs nothing.
class SiblingNames {
 public:
  void StartOver() {
    count_ = 0;
    if (++generation_ == 0) {
      for (Slot& slot : slots_) slot.generation = 0;
      generation_ = 1;
    }
  }

  // False when `name` is there already; else remembers it as the `pool`
  // bytes at `offset`, where it is about to be put.
  bool Insert(std::string_view name, uint32_t offset, const std::string& pool) {
    if ((count_ + 1) * 2 > slots_.size()) Grow(pool);
    uint32_t hash = static_cast<uint32_t>(fsio::Hash64(name));
    for (size_t i = hash & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
      Slot& slot = slots_[i];
      if (slot.generation != generation_) {
        slot = {generation_, hash, offset, static_cast<uint32_t>(name.size())};
        ++count_;
        return true;
      }
      if (slot.hash == hash && std::string_view(pool).substr(slot.offset, slot.length) == name)
        return false;
    }
  }

 private:
  struct Slot {
    uint32_t generation, hash, offset, length;
  };

  void Grow(const std::string& pool) {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(std::max<size_t>(16, old.size() * 2), Slot{});
    const uint32_t generation = generation_;
    StartOver();
    for (const Slot& slot : old) {
      if (slot.generation == generation)
        Insert(std::string_view(pool).substr(slot.offset, slot.length), slot.offset, pool);
    }
  }

  std::vector<Slot> slots_;
  uint32_t generation_ = 0;
  size_t count_ = 0;
};

class FileParser {
 public:
  // `removals` null: a store file, else a settings document.
  FileParser(ImageBody* body, std::vector<Removal>* removals) : body_(body), removals_(removals) {}

  Status Parse(std::string* bytes, const std::string& keyName) {
    // In UTF-16 and UTF-32 the byte-order mark or the first `<` holds a zero
    // byte. Anywhere else, pugixml would end the document there without a word.
    size_t zero = bytes->find('\0');
    if (zero < 4) return Status::Corruption("UTF-16 or UTF-32 text: a store file is UTF-8");
    if (zero != std::string::npos) {
      return Status::Corruption("offset " + std::to_string(zero) + ": a NUL byte");
    }
    unsigned options = kParseOptions | (MayHaveMarkupInText(*bytes) ? pugi::parse_ws_pcdata
                                                                    : pugi::parse_ws_pcdata_single);
    pugi::xml_document document;
    buffer_ = bytes->data();
    // The string's terminating NUL is parsed too: parsing in place, pugixml
    // drops the buffer's last byte when text after the root ends there.
    pugi::xml_parse_result result = document.load_buffer_inplace(bytes->data(), bytes->size() + 1,
                                                                 options, pugi::encoding_utf8);
    // Memory running out says nothing about the file: it is unreadable, not damaged.
    if (result.status == pugi::status_out_of_memory) return Status::IOError("Cannot allocate memory");
    if (!result) {
      return Status::Corruption("offset " + std::to_string(result.offset) + ": " +
                                result.description());
    }
    pugi::xml_node root;
    Status status = FindRoot(document, &root);
    if (!status.ok()) return status;
    if (!NameIs(root.name(), "key")) return Damaged(root, "the root element is not <key>");
    if (const char* reason = ReadAttributes(root)) return Damaged(root, reason);
    if (removals_ == nullptr && (attributes_.name || attributes_.hexname)) {
      std::string_view name;
      if (const char* reason = ElementName(&name)) return Damaged(root, reason);
      if (name != keyName) return Damaged(root, "the root key is not named after the file");
    }
    // The image lists keys breadth first, but a file with several damages is
    // reported by the first one in the order of the walk below.
    status = ReadKeys(root, keyName, /*breadthFirst=*/true);
    if (!status.ok()) status = ReadKeys(root, keyName, /*breadthFirst=*/false);
    if (status.ok() && body_->pool.size() > UINT32_MAX)
      status = Status::Corruption("too large for the store");
    if (!status.ok()) *body_ = ImageBody();
    return status;
  }

 private:
  // The attributes this format reads, each the file's text or, when that held
  // references, its decoded form in `decoded`.
  struct Attributes {
    std::optional<std::string_view> name, hexname, type, encoding;
    std::string decoded[4];
  };

  // The one element at the top level; anything else there must be something
  // a rewrite may leave out.
  static Status FindRoot(const pugi::xml_document& document, pugi::xml_node* root) {
    for (pugi::xml_node node : document.children()) {
      switch (node.type()) {
        case pugi::node_element:
          if (*root) return Damaged(node, "a second root element");
          *root = node;
          break;
        case pugi::node_pcdata:
          if (IsBlank(node.value())) break;
          [[fallthrough]];
        case pugi::node_cdata:
          return Damaged(node, "text outside the root element");
        case pugi::node_declaration: {
          pugi::xml_attribute encoding = node.attribute("encoding");
          if (encoding && !IsUtf8Name(encoding.value()))
            return Damaged(node,
                           std::string("encoding ") + encoding.value() + ": a store file is UTF-8");
          break;
        }
        case pugi::node_doctype: {
          // Entities and attribute defaults would change what the file says.
          std::string_view declarations = node.value();
          if (declarations.find("<!ENTITY") != std::string_view::npos ||
              declarations.find("<!ATTLIST") != std::string_view::npos)
            return Damaged(node, "a DOCTYPE declaring entities or attributes");
          break;
        }
        default:
          break;
      }
    }
    if (!*root) return Status::Corruption("no root element");
    return Status::OK();
  }

  struct Pending {
    pugi::xml_node element;
    uint32_t key;  // its record in the body
    uint32_t depth;
  };

  // Reads every key element without recursion, so that depth costs no stack:
  // breadth first for the image, or else each key's children and then the
  // keys below its first subkey, the order in which damage is reported.
  Status ReadKeys(pugi::xml_node root, std::string_view keyName, bool breadthFirst) {
    *body_ = ImageBody();
    if (removals_ != nullptr) removals_->clear();
    SnapshotKey top{};
    body_->AddText(keyName, &top.nameOffset, &top.nameLength);
    body_->keys.push_back(top);
    std::vector<Pending> pending{{root, 0, 0}};
    if (breadthFirst) {
      for (size_t next = 0; next < pending.size(); ++next) {
        Status status = ReadChildren(pending[next], &pending);
        if (!status.ok()) return status;
      }
      return Status::OK();
    }
    while (!pending.empty()) {
      Pending current = pending.back();
      pending.pop_back();
      size_t firstChild = pending.size();
      Status status = ReadChildren(current, &pending);
      if (!status.ok()) return status;
      // Children were pushed in document order; visit them in that order too.
      std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(firstChild), pending.end());
    }
    return Status::OK();
  }

  // Reads the values and subkeys of one key; subkeys are recorded and queued.
  Status ReadChildren(Pending parent, std::vector<Pending>* pending) {
    const auto firstSubkey = static_cast<uint32_t>(body_->keys.size());
    const auto firstValue = static_cast<uint32_t>(body_->values.size());
    subkeyNames_.StartOver();
    valueNames_.StartOver();
    if (const char* text = parent.element.value(); *text != '\0' && !IsBlank(text))
      return DamagedText(text, "text inside a <key>");
    // Walked by hand: pugixml's ranges cost more than the walk itself here.
    for (pugi::xml_node child = parent.element.first_child(); child;
         child = child.next_sibling()) {
      Status status = ReadChild(child, parent, pending);
      if (!status.ok()) return status;
    }
    SnapshotKey& record = body_->keys[parent.key];
    record.firstSubkey = firstSubkey;
    record.subkeyCount = static_cast<uint32_t>(body_->keys.size()) - firstSubkey;
    record.firstValue = firstValue;
    record.valueCount = static_cast<uint32_t>(body_->values.size()) - firstValue;
    return Status::OK();
  }

  Status ReadChild(pugi::xml_node child, const Pending& parent, std::vector<Pending>* pending) {
    switch (child.type()) {
      case pugi::node_pcdata:
      case pugi::node_cdata:
        if (IsBlank(child.value())) return Status::OK();
        return Damaged(child, "text inside a <key>");
      case pugi::node_element:
        break;
      default:
        return Status::OK();
    }
    bool isKey = NameIs(child.name(), "key");
    if (removals_ != nullptr && NameIs(child.name(), "delete")) return ReadRemoval(child, parent);
    if (!isKey && !NameIs(child.name(), "value"))
      return Damaged(child, std::string("unexpected element <") + child.name() + ">");
    if (const char* reason = ReadAttributes(child)) return Damaged(child, reason);
    std::string_view name;
    if (const char* reason = ElementName(&name)) return Damaged(child, reason);
    std::string& pool = body_->pool;
    const auto nameOffset = static_cast<uint32_t>(pool.size());
    if (isKey) {
      if (!IsValidKeyName(name)) return Damaged(child, "invalid key name");
      if (parent.depth + 1 > kMaxKeyDepth) return Damaged(child, "keys nested too deep");
      if (!subkeyNames_.Insert(name, nameOffset, pool)) return Damaged(child, "duplicate key");
      SnapshotKey record{};
      body_->AddText(name, &record.nameOffset, &record.nameLength);
      pending->push_back({child, static_cast<uint32_t>(body_->keys.size()), parent.depth + 1});
      body_->keys.push_back(record);
      return Status::OK();
    }
    if (!valueNames_.Insert(name, nameOffset, pool)) return Damaged(child, "duplicate value");
    SnapshotValue value{};
    body_->AddText(name, &value.nameOffset, &value.nameLength);
    if (const char* reason = ReadValue(child, &value)) return Damaged(child, reason);
    body_->values.push_back(value);
    return Status::OK();
  }

  Status ReadRemoval(pugi::xml_node element, const Pending& parent) {
    if (const char* reason = ReadAttributes(element)) return Damaged(element, reason);
    std::string_view name;
    if (const char* reason = ElementName(&name)) return Damaged(element, reason);
    std::string_view type = attributes_.type.value_or("");
    if (type != "key" && type != "value")
      return Damaged(element, "a <delete> needs type=\"key\" or type=\"value\"");
    if (type == "key" && !IsValidKeyName(name)) return Damaged(element, "invalid key name");
    if (attributes_.encoding || element.first_child() || *element.value() != '\0')
      return Damaged(element, "a <delete> has only a name and a type");
    Removal removal{parent.key, 0, 0, type == "key"};
    body_->AddText(name, &removal.nameOffset, &removal.nameLength);
    removals_->push_back(removal);
    return Status::OK();
  }

  // nullptr when every attribute of `element` reads into `attributes_`, else
  // why not. Attributes the format does not use are checked all the same.
  const char* ReadAttributes(pugi::xml_node element) {
    Attributes& out = attributes_;
    std::optional<std::string_view>* slots[] = {&out.name, &out.hexname, &out.type, &out.encoding};
    for (std::optional<std::string_view>* slot : slots) slot->reset();
    for (pugi::xml_attribute attribute = element.first_attribute(); attribute;
         attribute = attribute.next_attribute()) {
      int k = KnownAttribute(attribute.name());
      bool known = k >= 0;
      if (known && *slots[k]) return "an attribute given twice";
      std::string_view value = attribute.value();
      if (value.find('&') != std::string_view::npos) {
        std::string* decoded = known ? &out.decoded[k] : &scratch_;
        decoded->clear();
        if (!AppendUnescaped(value, decoded))
          return "an undefined or invalid reference in an attribute";
        value = *decoded;
      }
      if (known) *slots[k] = value;
    }
    return nullptr;
  }

  // The slot in Attributes of the attribute `name`, or -1 for one the format
  // does not use. Called for every attribute: one comparison, not four.
  static int KnownAttribute(const char* name) {
    switch (name[0]) {
      case 'n':
        return NameIs(name, "name") ? 0 : -1;
      case 'h':
        return NameIs(name, "hexname") ? 1 : -1;
      case 't':
        return NameIs(name, "type") ? 2 : -1;
      case 'e':
        return NameIs(name, "encoding") ? 3 : -1;
      default:
        return -1;
    }
  }

  // The name from `name`, or decoded from `hexname`; exactly one must be there.
  const char* ElementName(std::string_view* name) {
    if (attributes_.name && attributes_.hexname) return "both name and hexname";
    if (attributes_.name) {
      *name = *attributes_.name;
      return nullptr;
    }
    if (!attributes_.hexname) return "missing name";
    std::optional<std::string> decoded = HexDecode(*attributes_.hexname);
    if (!decoded) return "hexname is not hex";
    hexName_ = std::move(*decoded);
    *name = hexName_;
    return nullptr;
  }

  // Fills in the type and text of `value`, whose name is the last bytes of
  // the pool; nullptr when it was read, else why the element is damaged.
  const char* ReadValue(pugi::xml_node element, SnapshotValue* value) {
    std::string_view type = attributes_.type.value_or("");
    const std::optional<std::string_view>& encoding = attributes_.encoding;
    std::string& pool = body_->pool;
    // Plain text goes straight to the pool; what must be decoded first does not.
    const bool plain = type == "string" && !encoding;
    std::string& text = plain ? pool : scratch_;
    if (!plain) text.clear();
    const size_t textAt = text.size();
    if (!AppendUnescaped(element.value(), &text))
      return "an undefined or invalid reference in the text";
    for (pugi::xml_node part = element.first_child(); part; part = part.next_sibling()) {
      if (part.type() == pugi::node_element) return "a <value> holds an element";
      if (part.type() == pugi::node_cdata) text += part.value();
      if (part.type() == pugi::node_pcdata && !AppendUnescaped(part.value(), &text))
        return "an undefined or invalid reference in the text";
    }
    value->textOffset = static_cast<uint32_t>(textAt);
    if (encoding && *encoding != "hex") return "unknown encoding";
    if (type == "int") {
      if (encoding) return "an int cannot be hex";
      std::optional<uint32_t> number = ParseInt32(text);
      if (!number) return "int value out of range or not a number";
      value->type = static_cast<uint32_t>(ValueType::kInt32);
      value->number = *number;
      value->textOffset = static_cast<uint32_t>(pool.size());
      return nullptr;
    }
    if (type != "string") return type.empty() ? "missing type" : "unknown type";
    value->type = static_cast<uint32_t>(ValueType::kString);
    if (!plain) {
      std::optional<std::string> decoded = HexDecode(TrimXmlSpace(text));
      if (!decoded) return "value is not hex";
      value->textOffset = static_cast<uint32_t>(pool.size());
      pool += *decoded;
    }
    value->textLength = static_cast<uint32_t>(pool.size() - value->textOffset);
    return nullptr;
  }

  static Status Damaged(pugi::xml_node node, const std::string& reason) {
    ptrdiff_t offset = node.offset_debug();
    if (offset < 0) return Status::Corruption(reason);
    return Status::Corruption("offset " + std::to_string(offset) + ": " + reason);
  }

  // Where text kept as an element's value lies in the file.
  Status DamagedText(const char* text, const char* reason) const {
    return Status::Corruption("offset " + std::to_string(text - buffer_) + ": " + reason);
  }

  ImageBody* body_;
  std::vector<Removal>* removals_;
  const char* buffer_ = nullptr;  // the bytes being parsed
  Attributes attributes_;
  SiblingNames subkeyNames_, valueNames_;
  std::string hexName_;
  std::string scratch_;
};

// The attribute that carries `name`, its opening quote included, and its
// text: the name itself when plain, else escaped or hex in `scratch`.
std::pair<std::string_view, std::string_view> NameAttribute(std::string_view name,
                                                            std::string* scratch) {
  if (IsPlainXml(name)) return {" name=\""sv, name};
  if (IsXmlSafe(name)) {
    AppendEscapedAttribute(name, scratch);
    return {" name=\""sv, *scratch};
  }
  *scratch = HexEncode(name);
  return {" hexname=\""sv, *scratch};
}

}  // namespace

Status ParseKeyFile(std::string* bytes, const std::string& keyName, ImageBody* body) {
  return FileParser(body, nullptr).Parse(bytes, keyName);
}

Status ParseSettingsDocument(std::string* bytes, const std::string& rootName, ImageBody* body,
                             std::vector<Removal>* removals) {
  Status status = FileParser(body, removals).Parse(bytes, rootName);
  if (!status.ok()) removals->clear();
  return status;
}

XmlKeyWriter::XmlKeyWriter(size_t sizeHint) {
  const size_t capacity = std::max<size_t>(sizeHint, 4096);
  chunks_.push_back({std::make_unique_for_overwrite<char[]>(capacity), 0, capacity});
  AppendLine(0, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
}

namespace {

// A literal's length is known without a scan, and its copy needs no call.
template <size_t N>
constexpr std::string_view LinePiece(const char (&literal)[N]) {
  return std::string_view(literal, N - 1);
}
constexpr std::string_view LinePiece(std::string_view text) { return text; }

}  // namespace

// Appends an indent of `depth` levels, then `pieces`, after one check for
// room.
template <class... Texts>
void XmlKeyWriter::AppendLine(size_t depth, const Texts&... pieces) {
  const size_t size = 2 * depth + (LinePiece(pieces).size() + ...);
  if (chunks_.back().size + size > chunks_.back().capacity) {
    const size_t capacity = std::max(2 * chunks_.back().capacity, size);
    chunks_.push_back({std::make_unique_for_overwrite<char[]>(capacity), 0, capacity});
  }
  Chunk& chunk = chunks_.back();
  char* cursor = chunk.bytes.get() + chunk.size;
  std::memset(cursor, ' ', 2 * depth);
  cursor += 2 * depth;
  ((cursor = std::copy_n(LinePiece(pieces).data(), LinePiece(pieces).size(), cursor)), ...);
  chunk.size += size;
}

std::vector<std::string_view> XmlKeyWriter::Pieces() const {
  std::vector<std::string_view> pieces;
  for (const Chunk& chunk : chunks_) pieces.emplace_back(chunk.bytes.get(), chunk.size);
  return pieces;
}

void XmlKeyWriter::EndStartTag() {
  if (startTagOpen_) AppendLine(0, ">\n");
  startTagOpen_ = false;
}

void XmlKeyWriter::OpenKey(std::string_view name) {
  EndStartTag();
  std::string scratch;
  const auto [attribute, text] = NameAttribute(name, &scratch);
  AppendLine(depth_++, "<key", attribute, text, "\"");
  startTagOpen_ = true;
}

void XmlKeyWriter::AddValue(const ValueView& value) {
  EndStartTag();
  std::string nameScratch, textScratch;
  const auto [attribute, name] = NameAttribute(value.name, &nameScratch);
  // Each form spells its fixed pieces as literals, which are copied without a call.
  if (value.type == ValueType::kInt32) {
    char digits[12];
    const std::string_view number(
        digits, std::to_chars(digits, std::end(digits), static_cast<int32_t>(value.number)).ptr);
    AppendLine(depth_, "<value", attribute, name, "\" type=\"int\">", number, "</value>\n");
  } else if (value.text.empty()) {
    AppendLine(depth_, "<value", attribute, name, "\" type=\"string\"/>\n");
  } else if (IsPlainXml(value.text)) {
    AppendLine(depth_, "<value", attribute, name, "\" type=\"string\">", value.text, "</value>\n");
  } else if (IsXmlSafe(value.text)) {
    AppendEscapedText(value.text, &textScratch);
    AppendLine(depth_, "<value", attribute, name, "\" type=\"string\">", textScratch, "</value>\n");
  } else {
    textScratch = HexEncode(value.text);
    AppendLine(depth_, "<value", attribute, name, "\" type=\"string\" encoding=\"hex\">",
               textScratch, "</value>\n");
  }
}

void XmlKeyWriter::CloseKey() {
  --depth_;
  if (startTagOpen_) {
    AppendLine(0, "/>\n");
    startTagOpen_ = false;
    return;
  }
  AppendLine(depth_, "</key>\n");
}

std::string SerializeKey(const KeyTree& tree, KeyId topKey, size_t sizeHint) {
  XmlKeyWriter writer(sizeHint);
  struct Frame {
    KeyId key;
    size_t nextSubkey;
  };
  std::vector<Frame> open;
  auto startKey = [&](KeyId key) {
    writer.OpenKey(tree.Name(key));
    // Values are written in place, so a key still in its image is not built.
    tree.ForEachValue(key, [&](const ValueView& value) { writer.AddValue(value); });
    open.push_back({key, 0});
  };
  startKey(topKey);
  while (!open.empty()) {
    Frame& frame = open.back();
    if (frame.nextSubkey < tree.SubkeyCount(frame.key)) {
      startKey(tree.SubkeyAt(frame.key, frame.nextSubkey++));
      continue;
    }
    open.pop_back();
    writer.CloseKey();
  }
  const std::vector<std::string_view> pieces = writer.Pieces();
  size_t size = 0;
  for (std::string_view piece : pieces) size += piece.size();
  std::string bytes;
  bytes.reserve(size);
  for (std::string_view piece : pieces) bytes.append(piece);
  return bytes;
}

}  // namespace cfgkit
