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

}  // namespace

DocumentProblem ReadSettingsDocument(const std::string& path, std::vector<DocumentEntry>* entries) {
  entries->clear();
  cfgkit::FileOps& ops = cfgkit::PosixFileOps();
  std::string bytes;
  cfgkit::Status status = path == "-" ? ops.ReadStream(STDIN_FILENO, "standard input", &bytes)
                                      : ops.ReadFile(path, &bytes, nullptr);
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

struct SettingsDocumentWriter::Keys {
  cfgkit::KeyTree tree;
  cfgkit::KeyId root = cfgkit::kNoKey;
  std::string lastSection = "\n";  // no section is called that
  cfgkit::KeyId lastKey = cfgkit::kNoKey;

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

SettingsDocumentWriter::SettingsDocumentWriter(std::string_view rootName)
    : keys_(std::make_unique<Keys>()) {
  keys_->root = keys_->tree.AddSubkey(keys_->tree.Root(), std::string(rootName));
}

SettingsDocumentWriter::~SettingsDocumentWriter() = default;

void SettingsDocumentWriter::AddString(std::string_view section, std::string_view name,
                                       std::string_view text) {
  cfgkit::Value value;
  value.name.assign(name);
  value.text.assign(text);
  keys_->tree.SetValue(keys_->KeyOf(section), std::move(value));
}

void SettingsDocumentWriter::AddInteger(std::string_view section, std::string_view name,
                                        int32_t number) {
  cfgkit::Value value;
  value.name.assign(name);
  value.type = cfgkit::ValueType::kInt32;
  value.number = static_cast<uint32_t>(number);
  keys_->tree.SetValue(keys_->KeyOf(section), std::move(value));
}

std::string SettingsDocumentWriter::Text() const {
  return cfgkit::SerializeKey(keys_->tree, keys_->root);
}
