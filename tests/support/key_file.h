// A store file's content read into a key tree, for tests that look at what
// was written.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "cfgkit/key_tree.h"
#include "cfgkit/snapshot.h"
#include "cfgkit/xml_codec.h"
#include "fsio/file_ops.h"

namespace testsupport {

struct KeyFile {
  std::unique_ptr<cfgkit::Snapshot> image;  // what `tree` reads from
  cfgkit::KeyTree tree;
  cfgkit::KeyId top = cfgkit::kNoKey;
};

// False when `bytes` is no loadable store file of the key `keyName`.
inline bool ReadKeyFile(std::string bytes, const std::string& keyName, KeyFile* out) {
  cfgkit::ImageBody body;
  if (!cfgkit::ParseKeyFile(&bytes, keyName, &body).ok()) return false;
  out->image = cfgkit::Snapshot::InMemory(
      fsio::PosixFileOps(), cfgkit::SealImage(body, keyName + ".XML", {}, 0, 0, false));
  out->tree = cfgkit::KeyTree();
  out->top = out->tree.AddTopFromSnapshot(keyName, out->image.get());
  return true;
}

// The texts of the values of `section` below the top-level key in `bytes`
// (none when there is no such key); nullopt when the file does not load.
inline std::optional<std::map<std::string, std::string>> SectionTexts(
    std::string bytes, const std::string& keyName, const std::string& section) {
  KeyFile file;
  if (!ReadKeyFile(std::move(bytes), keyName, &file)) return std::nullopt;
  std::map<std::string, std::string> texts;
  cfgkit::KeyId key = file.tree.FindSubkey(file.top, section);
  for (size_t i = 0; key != cfgkit::kNoKey && i < file.tree.ValueCount(key); ++i) {
    texts[file.tree.ValueAt(key, i).name] = file.tree.ValueAt(key, i).text;
  }
  return texts;
}

// The image of the top-level key `top` of `tree`, as a load would make it.
inline std::string ImageOf(const cfgkit::KeyTree& tree, cfgkit::KeyId top,
                           const std::string& sourcePath, const cfgkit::FileIdentity& identity,
                           uint64_t contentHash, int64_t createdNs) {
  cfgkit::ImageBody body;
  if (!cfgkit::BodyOfKey(tree, top, &body)) return std::string();
  return cfgkit::SealImage(body, sourcePath, identity, contentHash, createdNs, false);
}

}  // namespace testsupport
