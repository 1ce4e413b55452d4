#include "registry/settings_document.h"

#include <unistd.h>

#include <string>

#include "cfgkit/file_ops.h"
#include "cfgkit/key_path.h"
#include "cfgkit/key_tree.h"
#include "cfgkit/parse_position.h"
#include "cfgkit/xml_codec.h"

namespace {

bool IsBlank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// The descriptor a document is read from as a stream, or -1 for a file by
// name: "-" and /dev/stdin are standard input, and /dev/fd/N is what a
// shell's process substitution names, which opening by name would refuse.
int StreamOf(const std::string& path) {
  if (path == "-" || path == "/dev/stdin") return STDIN_FILENO;
  constexpr std::string_view kDescriptors = "/dev/fd/";
  if (!path.starts_with(kDescriptors) || path.size() == kDescriptors.size() ||
      path.size() > kDescriptors.size() + 9) {
    return -1;
  }
  int fd = 0;
  for (char digit : std::string_view(path).substr(kDescriptors.size())) {
    if (digit < '0' || digit > '9') return -1;
    fd = fd * 10 + (digit - '0');
  }
  return fd;
}

}  // namespace

DocumentProblem ReadSettingsDocument(const std::string& path, std::vector<DocumentEntry>* entries) {
  entries->clear();
  cfgkit::FileOps& ops = cfgkit::PosixFileOps();
  std::string bytes;
  const int stream = StreamOf(path);
  cfgkit::Status status =
      stream < 0 ? ops.ReadFile(path, &bytes, nullptr)
                 : ops.ReadStream(stream, path == "-" ? "standard input" : path, &bytes);
  if (!status.ok()) return {status.IsCorruption(), status.message()};
  // An empty document is nothing to do.
  if (IsBlank(bytes)) return {};

  const std::string original = bytes;
  cfgkit::ImageBody body;
  std::vector<cfgkit::Removal> removals;
  status = cfgkit::ParseSettingsDocument(&bytes, std::string(), &body, &removals);
  if (!status.ok()) {
    return {true, cfgkit::WithLineAndColumn(status.message(), original)};
  }
  // Keys come breadth first, each key's subkeys in one run: a key's path is
  // known before its subkeys are reached.
  std::vector<std::string> paths(body.keys.size());
  auto text = [&body](uint32_t offset, uint32_t length) {
    return std::string_view(body.pool).substr(offset, length);
  };
  for (size_t k = 0; k < body.keys.size(); ++k) {
    const cfgkit::SnapshotKey& key = body.keys[k];
    for (uint32_t s = key.firstSubkey; s < key.firstSubkey + key.subkeyCount; ++s) {
      std::string_view name = text(body.keys[s].nameOffset, body.keys[s].nameLength);
      paths[s] = paths[k].empty() ? std::string(name) : paths[k] + "/" + std::string(name);
    }
  }
  for (const cfgkit::Removal& removal : removals) {
    entries->push_back({paths[removal.key],
                        std::string(text(removal.nameOffset, removal.nameLength)), true,
                        removal.ofKey, 0, std::string()});
  }
  for (size_t k = 0; k < body.keys.size(); ++k) {
    const cfgkit::SnapshotKey& key = body.keys[k];
    for (uint32_t v = key.firstValue; v < key.firstValue + key.valueCount; ++v) {
      const cfgkit::SnapshotValue& value = body.values[v];
      DocumentEntry entry{paths[k],
                          std::string(text(value.nameOffset, value.nameLength)),
                          false,
                          false,
                          static_cast<int>(value.type),
                          std::string()};
      if (value.type == static_cast<uint32_t>(cfgkit::ValueType::kInt32)) {
        entry.text = std::to_string(static_cast<int32_t>(value.number));
      } else {
        entry.text = text(value.textOffset, value.textLength);
      }
      entries->push_back(std::move(entry));
    }
  }
  return {};
}

struct SettingsDocumentWriter::Tree {
  cfgkit::KeyTree tree;
  cfgkit::KeyId root = cfgkit::kNoKey;
  std::string lastSection = "\n";  // no section is called that
  cfgkit::KeyId lastKey = cfgkit::kNoKey;
  std::string text;  // once finished

  cfgkit::KeyId KeyOf(std::string_view section) {
    if (section == lastSection) return lastKey;
    lastSection.assign(section);
    lastKey = root;
    for (std::string_view name : cfgkit::KeyPathComponents(section)) {
      const cfgkit::KeyId subkey = tree.FindSubkey(lastKey, name);
      lastKey = subkey != cfgkit::kNoKey ? subkey : tree.AddSubkey(lastKey, std::string(name));
    }
    return lastKey;
  }
};

// Writes each value as it comes while the order holds, and checks it: the
// tree would put a value after its key's subkeys, and would merge a repeated
// name or a key reached again.
struct SettingsDocumentWriter::Stream {
  struct OpenKey {
    explicit OpenKey(std::string_view keyName) : name(keyName) {}
    std::string name;
    std::string lastSubkey;
    bool hasSubkey = false, hasValue = false;
  };

  explicit Stream(std::string_view rootName) {
    open.emplace_back(rootName);
    writer.OpenKey(rootName);
  }

  void Add(std::string_view section, const cfgkit::ValueView& value) {
    if (!inOrder) return;
    if (section != lastSection) inOrder = Reach(section);
    OpenKey& key = open.back();
    inOrder = inOrder && !key.hasSubkey &&
              (!key.hasValue || value.name > std::string_view(lastValue.data(), lastValue.size()));
    if (!inOrder) return;
    key.hasValue = true;
    lastValue.assign(value.name.begin(), value.name.end());
    writer.AddValue(value);
  }

  // Makes `section` the open key, closing the keys off its path and opening
  // the rest of it; false when that would write a key again.
  bool Reach(std::string_view section) {
    lastSection.assign(section);
    const std::vector<std::string_view> names = cfgkit::KeyPathComponents(section);
    size_t kept = 0;
    while (kept < names.size() && kept + 1 < open.size() && open[kept + 1].name == names[kept]) {
      ++kept;
    }
    // An ancestor of the open key has its subkeys written already.
    if (kept == names.size()) return kept + 1 == open.size();
    const OpenKey& parent = open[kept];
    if (parent.hasSubkey && names[kept] <= parent.lastSubkey) return false;
    while (open.size() > kept + 1) Close();
    for (size_t i = kept; i < names.size(); ++i) {
      open.back().hasSubkey = true;
      open.back().lastSubkey.assign(names[i]);
      open.emplace_back(names[i]);
      writer.OpenKey(names[i]);
    }
    return true;
  }

  void Close() {
    writer.CloseKey();
    open.pop_back();
  }

  cfgkit::XmlKeyWriter writer;
  std::vector<OpenKey> open;  // from the root down
  std::string lastSection;    // the root's
  // The open key's last value name. Only the open key can take another value:
  // one after its subkeys breaks the order whatever its name. A vector, since
  // std::string's assign costs more and this runs once per value.
  std::vector<char> lastValue;
  bool inOrder = true;
};

SettingsDocumentWriter::SettingsDocumentWriter(std::string_view rootName, Order order) {
  if (order == Order::kWalk) {
    stream_ = std::make_unique<Stream>(rootName);
    return;
  }
  tree_ = std::make_unique<Tree>();
  tree_->root = tree_->tree.AddSubkey(tree_->tree.Root(), std::string(rootName));
}

SettingsDocumentWriter::~SettingsDocumentWriter() = default;

void SettingsDocumentWriter::Add(std::string_view section, const cfgkit::ValueView& value) {
  if (stream_) {
    stream_->Add(section, value);
    return;
  }
  cfgkit::Value copy;
  copy.name.assign(value.name);
  copy.type = value.type;
  copy.text.assign(value.text);
  copy.number = value.number;
  tree_->tree.SetValue(tree_->KeyOf(section), std::move(copy));
}

void SettingsDocumentWriter::AddString(std::string_view section, std::string_view name,
                                       std::string_view text) {
  Add(section, {name, cfgkit::ValueType::kString, text, 0});
}

void SettingsDocumentWriter::AddInteger(std::string_view section, std::string_view name,
                                        int32_t number) {
  Add(section, {name, cfgkit::ValueType::kInt32, {}, static_cast<uint32_t>(number)});
}

bool SettingsDocumentWriter::InOrder() const { return !stream_ || stream_->inOrder; }

std::vector<std::string_view> SettingsDocumentWriter::Finish() {
  if (!stream_) {
    tree_->text = cfgkit::SerializeKey(tree_->tree, tree_->root);
    return {tree_->text};
  }
  while (!stream_->open.empty()) stream_->Close();
  return stream_->writer.Pieces();
}
