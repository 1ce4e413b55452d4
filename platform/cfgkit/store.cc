#include "cfgkit/store.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <new>
#include <utility>

#include "cfgkit/key_path.h"
#include "cfgkit/parse_position.h"
#include "cfgkit/xml_codec.h"
#include "fsio/atomic_replace.h"
#include "fsio/content_hash.h"

namespace cfgkit {
namespace {

// Forward slashes and exactly one trailing '/', so equal folders compare equal.
std::string NormalizeDir(std::string_view dir) {
  std::string normal;
  for (char c : dir) {
    if (c == '\\') c = '/';
    if (c == '/' && !normal.empty() && normal.back() == '/') continue;
    normal.push_back(c);
  }
  if (!normal.empty() && normal.back() != '/') normal.push_back('/');
  return normal;
}

// The key name of a store file name, or empty for files that are not store files.
std::string_view KeyNameOfFile(std::string_view fileName) {
  if (fileName.size() <= kStoreFileExtension.size() || fileName.front() == '.') return {};
  if (!fileName.ends_with(kStoreFileExtension)) return {};
  std::string_view keyName = fileName.substr(0, fileName.size() - kStoreFileExtension.size());
  return IsValidKeyName(keyName) ? keyName : std::string_view();
}

// A top-level key must be able to live in a store file that loading reads.
constexpr size_t kMaxTopLevelNameSize = 200;

bool CanNameStoreFile(std::string_view keyName) {
  return keyName.front() != '.' && keyName.size() <= kMaxTopLevelNameSize;
}

bool BelongsInUserDir(std::string_view keyName) {
  return keyName == "user" || keyName.ends_with("_user");
}

// `message` without the "<path>: " a file operation's status begins with.
std::string WithoutPath(const std::string& message, std::string_view path) {
  if (message.size() > path.size() + 2 && message.starts_with(path) &&
      message.compare(path.size(), 2, ": ") == 0) {
    return message.substr(path.size() + 2);
  }
  return message;
}

Status WithMessage(const Status& status, std::string message) {
  return status.IsCorruption() ? Status::Corruption(std::move(message))
                               : Status::IOError(std::move(message));
}

int64_t NowNs() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

}  // namespace

using fsio::JoinPath;

StoreOptions DefaultStoreOptions() {
  StoreOptions options;
  const char* cache = std::getenv("XDG_CACHE_HOME");
  const char* home = std::getenv("HOME");
  if (cache != nullptr && cache[0] == '/') {
    options.snapshotDir = std::string(cache) + "/setwise";
  } else if (home != nullptr && home[0] == '/') {
    options.snapshotDir = std::string(home) + "/.cache/setwise";
  }
  return options;
}

Store::Store(FileOps& ops, LogSink log, StoreOptions options)
    : ops_(ops), log_(std::move(log)), options_(std::move(options)) {}

Status Store::Load(std::string_view adminDir, std::string_view userDir) {
  adminDir_ = NormalizeDir(adminDir);
  userDir_ = NormalizeDir(userDir);
  tree_ = KeyTree();
  images_.clear();
  files_.clear();
  fileIndex_.clear();
  reliableTimes_.clear();
  unlistedFolders_.clear();
  cache_.reset();
  if (!options_.snapshotDir.empty()) cache_ = SnapshotCache::Prepare(ops_, options_.snapshotDir);

  // Key name -> the folder its file is read from; ordered for a stable key order.
  std::map<std::string, std::string> sources;
  std::vector<std::string> dirs{adminDir_};
  if (userDir_ != adminDir_) dirs.push_back(userDir_);
  for (const std::string& dir : dirs) {
    std::vector<std::string> names;
    Status status = ops_.ListDir(dir, &names);
    if (status.IsNotFound()) continue;
    if (!status.ok()) {
      // Like a damaged file: the other folder loads, and nothing is saved here.
      if (log_) log_(1, "Error: cfgkit cannot read store folder " + status.message() + "\n");
      unlistedFolders_.push_back({dir, WithMessage(status, WithoutPath(status.message(), dir))});
      continue;
    }
    for (const std::string& fileName : names) {
      std::string keyName(KeyNameOfFile(fileName));
      if (keyName.empty()) continue;
      auto [entry, added] = sources.emplace(keyName, dir);
      if (!added && dir == HomeDir(keyName)) entry->second = dir;
    }
  }
  for (const auto& [keyName, dir] : sources) {
    AddFile(keyName);
    files_.back().sourceDir = dir;
    files_.back().unread = true;
    if (!options_.readFilesWhenUsed) LoadFile(files_.back());
  }
  if (unlistedFolders_.size() == dirs.size()) return unlistedFolders_.front().status;
  return Status::OK();
}

bool Store::IsUnlisted(const std::string& dir) const {
  for (const FileReport& folder : unlistedFolders_) {
    if (folder.path == dir) return true;
  }
  return false;
}

void Store::ReadIfUnread(std::string_view name) {
  TopLevelFile* file = FileOf(name);
  if (file != nullptr && file->unread) LoadFile(*file);
}

void Store::LoadFile(TopLevelFile& file) {
  file.unread = false;
  try {
    LoadFileContent(file);
  } catch (const std::bad_alloc&) {
    // What a file needs to be read does not fit: the file is unreadable, not damaged.
    KeyId partial = tree_.FindSubkey(tree_.Root(), file.name);
    if (partial != kNoKey) tree_.RemoveKey(partial);
    file.image = nullptr;
    ProtectDamaged(file, JoinPath(file.sourceDir, file.name + std::string(kStoreFileExtension)),
                   Status::IOError("Cannot allocate memory"));
  }
}

void Store::LoadFileContent(TopLevelFile& file) {
  const std::string& keyName = file.name;
  const std::string& dir = file.sourceDir;
  std::string path = JoinPath(dir, keyName + std::string(kStoreFileExtension));
  SourceFile source;
  if (LoadFromSnapshot(file, path, &source)) return;
  if (!source.read) {
    source.readStartNs = NowNs();
    source.status = ops_.ReadFile(path, &source.bytes, &source.identity);
  }
  // A file read from the other folder means there was none in the home folder.
  if (dir == file.homeDir) file.homeIdentity = source.identity;
  file.sourceIdentity = source.identity;
  Status status = source.status;
  ImageBody body;
  if (status.ok()) {
    file.contentHash = fsio::Hash64(source.bytes);
    status = ParseKeyFile(&source.bytes, keyName, &body);
  }
  if (status.ok()) {
    source.bytes = std::string();
    std::string image = SealImage(body, path, source.identity, file.contentHash, source.readStartNs,
                                  KeepsNameOrder(file.name));
    body = ImageBody();
    if (cache_) cache_->Write(path, image);
    ReadKeyFrom(file, Snapshot::InMemory(ops_, std::move(image)));
    return;
  }
  ProtectDamaged(file, path, status);
}

void Store::ProtectDamaged(TopLevelFile& file, const std::string& path, const Status& status) {
  file.damaged = true;
  file.loadError = status;
  if (log_) {
    // The parser's reason does not name the file; a file operation's does.
    const std::string where = status.message().starts_with(path) ? std::string() : path + ": ";
    log_(1,
         "Error: cfgkit store file is damaged and protected: " + where + status.message() + "\n");
  }
}

Store::FileReport Store::ReportFile(std::string_view name) {
  ReadIfUnread(name);
  const TopLevelFile* file = FileOf(name);
  if (file == nullptr || file->sourceDir.empty()) return {};
  FileReport report;
  report.path = JoinPath(file->sourceDir, file->name + std::string(kStoreFileExtension));
  const Status& error = file->loadError;
  if (error.ok()) return report;
  std::string message = WithoutPath(error.message(), report.path);
  // The parse used the bytes as scratch space; their position needs them as they are.
  std::string bytes;
  if (error.IsCorruption() && ops_.ReadFile(report.path, &bytes, nullptr).ok()) {
    message = WithLineAndColumn(message, bytes);
  }
  report.status = WithMessage(error, std::move(message));
  return report;
}

bool Store::LoadFromSnapshot(TopLevelFile& file, const std::string& path, SourceFile* source) {
  if (!cache_) return false;
  FileIdentity identity;
  if (!ops_.Stat(path, &identity).ok() || !identity.exists) return false;
  std::unique_ptr<Snapshot> image = cache_->Open(path, identity);
  if (!image) return false;
  const bool timesTell = HasReliableTimes(file.sourceDir);
  if (!timesTell || !image->IsSettled(options_.recentChangeNs)) {
    // The file's identity proves nothing: compare the bytes, which are then
    // at hand for the parse if they differ.
    source->read = true;
    source->readStartNs = NowNs();
    source->status = ops_.ReadFile(path, &source->bytes, &source->identity);
    if (!source->status.ok() || source->identity != identity ||
        fsio::Hash64(source->bytes) != image->contentHash()) {
      return false;
    }
    // Any later edit changes the file's identity: later runs need not compare.
    if (timesTell && source->readStartNs - identity.changedNs > options_.recentChangeNs) {
      image->MarkSettled(source->readStartNs);
    }
  }
  file.sourceIdentity = identity;
  if (path == HomePath(file)) file.homeIdentity = identity;
  ReadKeyFrom(file, std::move(image));
  return true;
}

void Store::ExpectWholeReads() {
  wholeReads_ = true;
  tree_.ExpectWholeReads();
  for (const std::unique_ptr<Snapshot>& image : images_) image->ExpectWholeReads();
}

void Store::ReadKeyFrom(TopLevelFile& file, std::unique_ptr<Snapshot> image) {
  if (wholeReads_) image->ExpectWholeReads();
  tree_.AddTopFromSnapshot(file.name, image.get());
  file.image = image.get();
  file.contentHash = image->contentHash();
  images_.push_back(std::move(image));
}

void Store::WriteSnapshotOf(const TopLevelFile& file, const std::string& path,
                            const FileIdentity& identity, int64_t settledNs) {
  if (!cache_) return;
  ImageBody body;
  if (!BodyOfKey(tree_, tree_.FindSubkey(tree_.Root(), file.name), &body)) return;
  cache_->Write(path, SealImage(body, path, identity, file.contentHash, settledNs,
                                KeepsNameOrder(file.name)));
}

bool Store::HasReliableTimes(const std::string& dir) {
  auto [entry, added] = reliableTimes_.emplace(dir, false);
  if (added) entry->second = ops_.HasReliableTimes(dir);
  return entry->second;
}

void Store::AddFile(std::string name) {
  TopLevelFile file;
  file.homeDir = HomeDir(name);
  file.name = std::move(name);
  fileIndex_.emplace(file.name, files_.size());
  files_.push_back(std::move(file));
}

std::string Store::HomePath(const TopLevelFile& file) const {
  return JoinPath(file.homeDir, file.name + std::string(kStoreFileExtension));
}

std::string Store::HomeDir(std::string_view keyName) const {
  return BelongsInUserDir(keyName) ? userDir_ : adminDir_;
}

Store::TopLevelFile* Store::FileOf(std::string_view name) {
  auto found = fileIndex_.find(std::string(name));
  return found == fileIndex_.end() ? nullptr : &files_[found->second];
}

Store::TopLevelFile& Store::FileOfKey(KeyId key) {
  return *FileOf(tree_.Name(tree_.TopLevelOf(key)));
}

bool Store::IsProtected(std::string_view name) {
  ReadIfUnread(name);
  const TopLevelFile* file = FileOf(name);
  return file != nullptr && file->damaged;
}

KeyId Store::Find(KeyId parent, const std::vector<std::string_view>& components) {
  if (parent == tree_.Root() && !components.empty()) ReadIfUnread(components.front());
  KeyId key = parent;
  for (std::string_view name : components) {
    key = tree_.FindSubkey(key, name);
    if (key == kNoKey) return kNoKey;
  }
  return key;
}

KeyId Store::FindSubkey(KeyId parent, std::string_view name) {
  if (parent == tree_.Root()) ReadIfUnread(name);
  return tree_.FindSubkey(parent, name);
}

KeyId Store::Create(KeyId parent, const std::vector<std::string_view>& components,
                    CreateError* error) {
  *error = CreateError::kNone;
  std::string_view topName =
      parent == tree_.Root() ? components.front() : tree_.Name(tree_.TopLevelOf(parent));
  if (IsProtected(topName)) {
    *error = CreateError::kProtected;
    return kNoKey;
  }
  if (parent == tree_.Root() && tree_.FindSubkey(parent, topName) == kNoKey &&
      !CanNameStoreFile(topName)) {
    *error = CreateError::kBadTopLevelName;
    return kNoKey;
  }
  size_t depth = 0;
  for (KeyId up = parent; up != tree_.Root(); up = tree_.Parent(up)) ++depth;
  if (depth + components.size() > kMaxKeyDepth + 1) {
    *error = CreateError::kTooDeep;
    return kNoKey;
  }
  bool created = false;
  KeyId key = EnsurePath(parent, components, &created);
  if (created) Record(key, Change::Kind::kCreateKey, Value());
  return key;
}

KeyId Store::EnsurePath(KeyId parent, const std::vector<std::string_view>& components,
                        bool* created) {
  KeyId key = parent;
  for (std::string_view name : components) {
    KeyId child = tree_.FindSubkey(key, name);
    if (child == kNoKey) {
      child = tree_.AddSubkey(key, std::string(name));
      *created = true;
      if (key == tree_.Root() && FileOf(name) == nullptr) AddFile(std::string(name));
    }
    key = child;
  }
  return key;
}

void Store::SetValue(KeyId key, Value value) {
  tree_.SetValue(key, value);
  Record(key, Change::Kind::kSetValue, std::move(value));
}

bool Store::DeleteValue(KeyId key, std::string_view name) {
  if (!tree_.RemoveValue(key, name)) return false;
  Value removed;
  removed.name = std::string(name);
  Record(key, Change::Kind::kDeleteValue, std::move(removed));
  return true;
}

void Store::DeleteKey(KeyId key) {
  Record(key, Change::Kind::kDeleteKey, Value());
  if (tree_.Parent(key) == tree_.Root()) {
    TopLevelFile& file = FileOfKey(key);
    file.deleted = true;
    file.image = nullptr;
  }
  tree_.RemoveKey(key);
}

std::vector<std::string> Store::PathOf(KeyId key) const {
  std::vector<std::string> path;
  for (; key != tree_.Root(); key = tree_.Parent(key)) path.push_back(tree_.Name(key));
  std::reverse(path.begin(), path.end());
  return path;
}

void Store::Record(KeyId key, Change::Kind kind, Value value) {
  TopLevelFile& file = FileOfKey(key);
  file.dirty = true;
  if (kind != Change::Kind::kDeleteKey) file.deleted = false;
  file.changes.push_back({kind, PathOf(key), std::move(value)});
}

}  // namespace cfgkit
