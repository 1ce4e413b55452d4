#include "tool/settings_document.h"

#include <unistd.h>

#include "cfgkit/parse_position.h"
#include "cfgkit/xml_codec.h"

namespace {

bool IsBlank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

}  // namespace

cfgkit::Status ReadSettingsDocument(const std::string& path, std::vector<DocumentEntry>* entries) {
  entries->clear();
  cfgkit::FileOps& ops = cfgkit::PosixFileOps();
  std::string bytes;
  cfgkit::Status status = path == "-" ? ops.ReadStream(STDIN_FILENO, "standard input", &bytes)
                                      : ops.ReadFile(path, &bytes, nullptr);
  if (!status.ok()) return status;
  // An empty document is nothing to do.
  if (IsBlank(bytes)) return cfgkit::Status::OK();

  const std::string original = bytes;
  cfgkit::ImageBody body;
  std::vector<cfgkit::Removal> removals;
  status = cfgkit::ParseSettingsDocument(&bytes, std::string(), &body, &removals);
  if (!status.ok()) {
    return cfgkit::Status::Corruption(cfgkit::WithLineAndColumn(status.message(), original));
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
    entries->push_back({paths[removal.key], std::string(text(removal.nameOffset, removal.nameLength)),
                        true, removal.ofKey, 0, std::string()});
  }
  for (size_t k = 0; k < body.keys.size(); ++k) {
    const cfgkit::SnapshotKey& key = body.keys[k];
    for (uint32_t v = key.firstValue; v < key.firstValue + key.valueCount; ++v) {
      const cfgkit::SnapshotValue& value = body.values[v];
      DocumentEntry entry{paths[k], std::string(text(value.nameOffset, value.nameLength)), false,
                          false, static_cast<int>(value.type), std::string()};
      if (value.type == static_cast<uint32_t>(cfgkit::ValueType::kInt32)) {
        entry.text = std::to_string(static_cast<int32_t>(value.number));
      } else {
        entry.text = text(value.textOffset, value.textLength);
      }
      entries->push_back(std::move(entry));
    }
  }
  return cfgkit::Status::OK();
}
