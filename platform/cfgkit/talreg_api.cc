// The TalReg* operations over the one store of the process.
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "cfgkit/cfgkit.h"
#include "cfgkit/key_path.h"
#include "cfgkit/snapshot.h"
#include "cfgkit/store.h"

namespace {

using cfgkit::KeyId;
using cfgkit::kNoKey;

struct ProcessStore {
  cfgkit::FileOps* ops = &cfgkit::PosixFileOps();
  void (*sink)(int level, const char* line) = nullptr;
  std::optional<cfgkit::StoreOptions> options;  // unset: the defaults at each load
  bool (*keepsNameOrder)(std::string_view topKey) = nullptr;
  std::unique_ptr<cfgkit::Store> store;
  cfgkit::HandleTable handles;
  // MatchValuesToNames's table, kept between calls: a listing matches every
  // key, and the table would otherwise be allocated for each.
  cfgkit::NameIndex matchIndex;
};

// Lives until the process ends and is never torn down: freeing a large tree
// key by key at exit would only delay the exit.
ProcessStore& State() {
  static ProcessStore& state = *new ProcessStore;
  return state;
}

std::string_view NameOf(const char* name) { return name == nullptr ? std::string_view() : name; }

// Makes `count` views empty. Zero bytes are an empty view, and clearing them
// so costs less than copying an empty one into each: a listing clears a row
// for every entry at every level.
void ClearViews(TalRegValueView* views, size_t count) {
  static_assert(std::is_trivially_copyable_v<TalRegValueView>);
  std::memset(static_cast<void*>(views), 0, count * sizeof(TalRegValueView));
}

// Fills `values` as TalRegFindValuesA does by visiting each key's values once
// and finding each among the names: for a key's worth of names, one look-up
// per value instead of one per name and key. False, with nothing filled, when
// a name repeats. `missed` tells whether a key there is lacked a name.
bool MatchValuesToNames(const cfgkit::KeyTree& tree, const KeyId* ids, size_t keyCount,
                        const std::string_view* names, size_t nameCount, TalRegValueView* values,
                        bool* missed) {
  auto nameAt = [names](size_t i) { return names[i]; };
  cfgkit::NameIndex& index = State().matchIndex;
  if (!index.RebuildDistinct(nameCount, nameAt)) return false;
  ClearViews(values, nameCount * keyCount);
  *missed = false;
  for (size_t k = 0; k < keyCount; ++k) {
    if (ids[k] == kNoKey) continue;
    size_t found = 0;
    auto match = [&](std::string_view name, uint32_t type, std::string_view text, uint32_t number) {
      const uint32_t n = index.Find(name, nameCount, nameAt);
      if (n == cfgkit::NameIndex::kNone) return;
      TalRegValueView& row = values[n * keyCount + k];
      row.name = name;
      row.type = static_cast<int32_t>(type);
      row.text = text;
      row.number = static_cast<int32_t>(number);
      ++found;
    };
    // Read in place without a call per value: a listing matches every value.
    const cfgkit::Snapshot* image = nullptr;
    const cfgkit::SnapshotKey* record = nullptr;
    if (tree.ValuesInImage(ids[k], &image, &record)) {
      image->ForEachValue(
          *record, [&](const cfgkit::SnapshotValue& stored, std::string_view name,
                       std::string_view text) { match(name, stored.type, text, stored.number); });
    } else {
      tree.ForEachValue(ids[k], [&](const cfgkit::ValueView& value) {
        match(value.name, static_cast<uint32_t>(value.type), value.text, value.number);
      });
    }
    *missed |= found < nameCount;
  }
  return true;
}

// The same by looking each name up in each key. True when a key there is
// lacked a name.
bool LookUpEachName(const cfgkit::KeyTree& tree, const KeyId* ids, size_t keyCount,
                    const std::string_view* names, size_t nameCount, TalRegValueView* values) {
  bool missed = false;
  for (size_t n = 0; n < nameCount; ++n) {
    const uint64_t hash = cfgkit::NameIndex::Hash(names[n]);
    TalRegValueView* row = values + n * keyCount;
    for (size_t k = 0; k < keyCount; ++k) {
      cfgkit::ValueView view;
      if (ids[k] == kNoKey || !tree.FindValueView(ids[k], names[n], hash, &view)) {
        row[k] = TalRegValueView{};
        missed |= ids[k] != kNoKey;
        continue;
      }
      row[k] = {view.name, static_cast<int32_t>(view.type), view.text,
                static_cast<int32_t>(view.number)};
    }
  }
  return missed;
}

// The key `handle` names, checked.
int ResolveKey(TalRegKey handle, KeyId* key) {
  ProcessStore& state = State();
  if (!state.store) return kTalRegNotLoaded;
  KeyId id = state.handles.Lookup(handle);
  if (id == kNoKey) return kTalRegInvalidHandle;
  if (!state.store->tree().IsLive(id)) return kTalRegStaleHandle;
  *key = id;
  return kTalRegOk;
}

// As ResolveKey, with null meaning the root.
int ResolveParent(TalRegKey handle, KeyId* key) {
  if (handle == nullptr && State().store) {
    *key = State().store->tree().Root();
    return kTalRegOk;
  }
  return ResolveKey(handle, key);
}

int CopyOut(std::string_view text, char* buffer, int32_t* size) {
  if (size == nullptr) return kTalRegInvalidArgument;
  if (text.size() >= INT32_MAX) return kTalRegInvalidArgument;
  int32_t needed = static_cast<int32_t>(text.size() + 1);
  bool fits = buffer != nullptr && *size >= needed;
  *size = needed;
  if (!fits) return kTalRegBufferTooSmall;
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return kTalRegOk;
}

// An image that broke under a read (a corrupt block that its file, saved
// again since, can no longer rebuild) answered nothing: the file is read as it
// is now, every open handle keeps its key, and the read is asked again.
bool ReadBrokenImagesAgain() {
  ProcessStore& state = State();
  if (!state.store->ImagesBrokeUnseen()) return false;
  return state.store->ReadBrokenImagesAgain(
      [&state](const std::function<KeyId(KeyId)>& move) { state.handles.MoveKeys(move); });
}

const cfgkit::Value* FindValue(TalRegKey handle, const char* name, int* status) {
  for (bool again = false;; again = true) {
    KeyId key = kNoKey;
    *status = ResolveKey(handle, &key);
    if (*status != kTalRegOk) return nullptr;
    const cfgkit::Value* value = State().store->tree().FindValue(key, NameOf(name));
    if (value != nullptr) return value;
    if (again || !ReadBrokenImagesAgain()) break;
  }
  *status = kTalRegValueNotFound;
  return nullptr;
}

int SetValue(TalRegKey handle, const char* name, cfgkit::Value value) {
  KeyId key = kNoKey;
  int status = ResolveKey(handle, &key);
  if (status != kTalRegOk) return status;
  value.name = NameOf(name);
  State().store->SetValue(key, std::move(value));
  return kTalRegOk;
}

// Opens the key at `path` below `parent`, creating it when `create` is set.
int OpenOrCreate(TalRegKey parent, const char* path, TalRegKey* key, bool create) {
  if (key == nullptr || path == nullptr) return kTalRegInvalidArgument;
  *key = nullptr;
  KeyId base = kNoKey;
  int status = ResolveParent(parent, &base);
  if (status != kTalRegOk) return status;
  cfgkit::Store& store = *State().store;
  std::vector<std::string_view> components = cfgkit::KeyPathComponents(path);
  if (components.empty() && base == store.tree().Root()) return kTalRegInvalidArgument;
  KeyId found = store.Find(base, components);
  if (found == kNoKey && ReadBrokenImagesAgain()) {
    status = ResolveParent(parent, &base);
    if (status != kTalRegOk) return status;
    found = store.Find(base, components);
  }
  if (found == kNoKey && create) {
    cfgkit::Store::CreateError error;
    found = store.Create(base, components, &error);
    if (error == cfgkit::Store::CreateError::kProtected) return kTalRegProtected;
    if (error == cfgkit::Store::CreateError::kTooDeep) return kTalRegTooDeep;
    if (error == cfgkit::Store::CreateError::kBadTopLevelName) return kTalRegInvalidArgument;
  }
  if (found == kNoKey) return kTalRegKeyNotFound;
  *key = State().handles.Open(found);
  return kTalRegOk;
}

// The name of the subkey (or value) at `index`.
int NameAt(TalRegKey handle, int32_t index, char* buffer, int32_t* size, bool subkey) {
  KeyId key = kNoKey;
  int status = ResolveKey(handle, &key);
  if (status != kTalRegOk) return status;
  const cfgkit::KeyTree& tree = State().store->tree();
  size_t count = subkey ? tree.SubkeyCount(key) : tree.ValueCount(key);
  if (index < 0 || static_cast<size_t>(index) >= count) return kTalRegIndexOutOfRange;
  const std::string& name =
      subkey ? tree.Name(tree.SubkeyAt(key, index)) : tree.ValueAt(key, index).name;
  return CopyOut(name, buffer, size);
}

TalRegFileReport ToApi(const cfgkit::Store::FileReport& report) {
  TalRegFileReport out;
  out.path = report.path;
  if (report.status.ok()) return out;
  out.status = report.status.IsCorruption() ? kTalRegProtected : kTalRegIoError;
  out.reason = report.status.message();
  return out;
}

int Count(TalRegKey handle, int32_t* count, bool subkeys) {
  if (count == nullptr) return kTalRegInvalidArgument;
  KeyId key = kNoKey;
  int status = ResolveKey(handle, &key);
  if (status != kTalRegOk) return status;
  const cfgkit::KeyTree& tree = State().store->tree();
  *count = static_cast<int32_t>(subkeys ? tree.SubkeyCount(key) : tree.ValueCount(key));
  return kTalRegOk;
}

}  // namespace

int _LoadPathsA(const char* adminDir, const char* userDir) {
  if (adminDir == nullptr || userDir == nullptr) return kTalRegInvalidArgument;
  ProcessStore& state = State();
  state.handles.CloseAll();
  cfgkit::StoreOptions options = state.options ? *state.options : cfgkit::DefaultStoreOptions();
  // With nobody to hear of a damaged file, a run reads only the files it uses.
  options.readFilesWhenUsed = state.sink == nullptr;
  options.keepsNameOrder = state.keepsNameOrder;
  state.store = std::make_unique<cfgkit::Store>(
      *state.ops,
      [](int level, const std::string& line) {
        if (State().sink != nullptr) State().sink(level, line.c_str());
      },
      options);
  cfgkit::Status status = state.store->Load(adminDir, userDir);
  return status.ok() ? kTalRegOk : kTalRegIoError;
}

int TalRegOpenKeyA(TalRegKey parent, const char* path, TalRegKey* key) {
  return OpenOrCreate(parent, path, key, false);
}

int TalRegCreateKeyA(TalRegKey parent, const char* path, TalRegKey* key) {
  return OpenOrCreate(parent, path, key, true);
}

int TalRegOpenSubkeyA(TalRegKey parent, std::string_view name, TalRegKey* key) {
  if (key == nullptr) return kTalRegInvalidArgument;
  *key = nullptr;
  for (bool again = false;; again = true) {
    KeyId base = kNoKey;
    int status = ResolveParent(parent, &base);
    if (status != kTalRegOk) return status;
    KeyId found = State().store->FindSubkey(base, name);
    if (found != kNoKey) {
      *key = State().handles.Open(found);
      return kTalRegOk;
    }
    if (again || !ReadBrokenImagesAgain()) return kTalRegKeyNotFound;
  }
}

int TalRegCloseKey(TalRegKey key) {
  if (!State().store) return kTalRegNotLoaded;
  return State().handles.Close(key) ? kTalRegOk : kTalRegInvalidHandle;
}

int TalRegGetStringValueA(TalRegKey key, const char* name, char* buffer, int32_t* size) {
  if (size == nullptr) return kTalRegInvalidArgument;
  int status;
  const cfgkit::Value* value = FindValue(key, name, &status);
  if (value == nullptr) return status;
  if (value->type != cfgkit::ValueType::kString) return kTalRegWrongType;
  return CopyOut(value->text, buffer, size);
}

int TalRegGetInt32ValueA(TalRegKey key, const char* name, int32_t* out) {
  if (out == nullptr) return kTalRegInvalidArgument;
  int status;
  const cfgkit::Value* value = FindValue(key, name, &status);
  if (value == nullptr) return status;
  if (value->type != cfgkit::ValueType::kInt32) return kTalRegWrongType;
  *out = static_cast<int32_t>(value->number);
  return kTalRegOk;
}

int TalRegSetStringValueA(TalRegKey key, const char* name, const char* text) {
  if (text == nullptr) return kTalRegInvalidArgument;
  cfgkit::Value value;
  value.type = cfgkit::ValueType::kString;
  value.text = text;
  return SetValue(key, name, std::move(value));
}

int TalRegSetInt32ValueA(TalRegKey key, const char* name, int32_t number) {
  cfgkit::Value value;
  value.type = cfgkit::ValueType::kInt32;
  value.number = static_cast<uint32_t>(number);
  return SetValue(key, name, std::move(value));
}

int TalRegGetValueTypeA(TalRegKey key, const char* name, int32_t* type) {
  if (type == nullptr) return kTalRegInvalidArgument;
  int status;
  const cfgkit::Value* value = FindValue(key, name, &status);
  if (value == nullptr) return status;
  *type = static_cast<int32_t>(value->type);
  return kTalRegOk;
}

int TalRegDeleteValueA(TalRegKey key, const char* name) {
  KeyId id = kNoKey;
  int status = ResolveKey(key, &id);
  if (status != kTalRegOk) return status;
  return State().store->DeleteValue(id, NameOf(name)) ? kTalRegOk : kTalRegValueNotFound;
}

int TalRegDeleteKeyRecursiveA(TalRegKey parent, const char* path) {
  if (path == nullptr) return kTalRegInvalidArgument;
  KeyId base = kNoKey;
  int status = ResolveParent(parent, &base);
  if (status != kTalRegOk) return status;
  cfgkit::Store& store = *State().store;
  std::vector<std::string_view> components = cfgkit::KeyPathComponents(path);
  if (components.empty()) return kTalRegInvalidArgument;
  if (base == store.tree().Root() && store.IsProtected(components.front())) {
    return kTalRegProtected;
  }
  KeyId found = store.Find(base, components);
  if (found == kNoKey) return kTalRegKeyNotFound;
  store.DeleteKey(found);
  return kTalRegOk;
}

int TalRegGetNumKeys(TalRegKey key, int32_t* count) { return Count(key, count, true); }

int TalRegGetNumValues(TalRegKey key, int32_t* count) { return Count(key, count, false); }

int TalRegGetSubKeyNameA(TalRegKey key, int32_t index, char* buffer, int32_t* size) {
  return NameAt(key, index, buffer, size, true);
}

int TalRegGetValueNameA(TalRegKey key, int32_t index, char* buffer, int32_t* size) {
  return NameAt(key, index, buffer, size, false);
}

int TalRegVisitValuesA(TalRegKey key, void (*visit)(void* context, const TalRegValueView& value),
                       void* context) {
  if (visit == nullptr) return kTalRegInvalidArgument;
  KeyId id = kNoKey;
  int status = ResolveKey(key, &id);
  if (status != kTalRegOk) return status;
  struct Forward {
    void (*visit)(void* context, const TalRegValueView& value);
    void* context;
  } forward{visit, context};
  State().store->tree().VisitValues(
      id,
      [](void* target, const cfgkit::ValueView& value) {
        const Forward& to = *static_cast<const Forward*>(target);
        to.visit(to.context, {value.name, static_cast<int32_t>(value.type), value.text,
                              static_cast<int32_t>(value.number)});
      },
      &forward);
  return kTalRegOk;
}

int TalRegValueNamesByNameA(TalRegKey key, std::vector<std::string_view>* names) {
  if (names == nullptr) return kTalRegInvalidArgument;
  KeyId id = kNoKey;
  int status = ResolveKey(key, &id);
  if (status != kTalRegOk) return status;
  State().store->tree().ValueNamesByName(id, names);
  return kTalRegOk;
}

int TalRegFindValuesA(const TalRegKey* keys, size_t keyCount, const std::string_view* names,
                      size_t nameCount, TalRegValueView* values) {
  if (keyCount > 0 && nameCount > 0 && (keys == nullptr || names == nullptr || values == nullptr)) {
    return kTalRegInvalidArgument;
  }
  if (!State().store) return kTalRegNotLoaded;
  KeyId few[8];
  std::vector<KeyId> many(keyCount > std::size(few) ? keyCount : 0);
  KeyId* ids = many.empty() ? few : many.data();
  for (bool again = false;; again = true) {
    for (size_t k = 0; k < keyCount; ++k) {
      if (keys[k] == nullptr || ResolveKey(keys[k], &ids[k]) != kTalRegOk) ids[k] = kNoKey;
    }
    const cfgkit::KeyTree& tree = State().store->tree();
    bool missed = false;
    if (nameCount < 2 ||
        !MatchValuesToNames(tree, ids, keyCount, names, nameCount, values, &missed)) {
      missed = LookUpEachName(tree, ids, keyCount, names, nameCount, values);
    }
    if (!missed || again || !ReadBrokenImagesAgain()) return kTalRegOk;
  }
}

int TalRegVisitSubkeysA(TalRegKey key, void (*visit)(void* context, std::string_view name),
                        void* context) {
  if (visit == nullptr) return kTalRegInvalidArgument;
  KeyId id = kNoKey;
  int status = ResolveKey(key, &id);
  if (status != kTalRegOk) return status;
  const cfgkit::KeyTree& tree = State().store->tree();
  const size_t count = tree.SubkeyCount(id);
  for (size_t i = 0; i < count; ++i) visit(context, tree.Name(tree.SubkeyAt(id, i)));
  return kTalRegOk;
}

int TalRegReportFileA(const char* name, TalRegFileReport* report) {
  if (name == nullptr || report == nullptr) return kTalRegInvalidArgument;
  if (!State().store) return kTalRegNotLoaded;
  *report = ToApi(State().store->ReportFile(name));
  return kTalRegOk;
}

int TalRegReportUnlistedFolders(std::vector<TalRegFileReport>* folders) {
  if (folders == nullptr) return kTalRegInvalidArgument;
  if (!State().store) return kTalRegNotLoaded;
  folders->clear();
  for (const cfgkit::Store::FileReport& folder : State().store->unlistedFolders()) {
    folders->push_back(ToApi(folder));
  }
  return kTalRegOk;
}

namespace {

int SaveStatus(const cfgkit::Status& status, const char* what) {
  if (status.ok()) return kTalRegOk;
  if (State().sink != nullptr) {
    State().sink(1,
                 ("Error: cfgkit " + std::string(what) + ": " + status.ToString() + "\n").c_str());
  }
  return kTalRegIoError;
}

}  // namespace

void TalRegExpectWholeReads() {
  if (State().store) State().store->ExpectWholeReads();
}

int TalRegSave() {
  if (!State().store) return kTalRegNotLoaded;
  return SaveStatus(State().store->Save(), "save failed");
}

int TalRegForeseeSave() {
  if (!State().store) return kTalRegNotLoaded;
  return SaveStatus(State().store->ForeseeSave(), "save would fail");
}

void TalRegSetLogSink(void (*sink)(int level, const char* line)) { State().sink = sink; }

void TalRegKeepNameOrderOf(bool (*keeps)(std::string_view topKey)) {
  State().keepsNameOrder = keeps;
}

void TalRegSetStoreOptions(const cfgkit::StoreOptions* options) {
  if (options == nullptr) {
    State().options.reset();
  } else {
    State().options = *options;
  }
}

void TalRegUseFileOps(cfgkit::FileOps* ops) {
  State().ops = ops == nullptr ? &cfgkit::PosixFileOps() : ops;
}
