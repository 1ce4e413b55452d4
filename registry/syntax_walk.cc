#include "registry/syntax_walk.h"

#include <algorithm>
#include <memory>

#include "cfgkit/key_path.h"
#include "cfgkit/order_prefix.h"
#include "registry/byte_text.h"
#include "registry/morix_registry_impl.h"
#include "registry/store_names.h"

namespace {

// The most syntax files the registry has; the walk holds a key in each.
constexpr int kSyntaxFiles = 3;

// The names of one key over the syntax files, sorted by byte with each name
// kept once. Value names are seen in place (the store keeps them where they
// are while it is not changed); subkey names are copied, since the walk reads
// further keys, which moves them, while it still needs them. Cleared and
// filled again for each key, so that its buffers are allocated once.
class MergedNames {
 public:
  void Clear() {
    bytes_.clear();
    copies_.clear();
    names_.clear();
    sorted_.clear();
    marks_.clear();
  }

  // `marked` is kept for a name if any of its copies has it.
  void Add(std::string_view name, bool marked = false) {
    // Written in place: a copy of a record just made on the stack stalls on
    // reading back bytes still being stored.
    Name& added = names_.emplace_back();
    added.prefix = cfgkit::OrderPrefix(name);
    added.text = name;
    added.marked = marked;
  }
  void AddCopy(std::string_view name) {
    copies_.emplace_back(bytes_.size(), name.size());
    bytes_.append(name);
  }

  std::span<const std::string_view> Sorted() {
    for (auto [at, size] : copies_) Add(std::string_view(bytes_).substr(at, size));
    // Most pairs differ in their first eight bytes, compared as one number.
    auto ascending = [](const Name& a, const Name& b) {
      return a.prefix != b.prefix ? a.prefix < b.prefix : a.text < b.text;
    };
    // One file's values come in order; sorting costs more than checking.
    if (!std::is_sorted(names_.begin(), names_.end(), ascending)) {
      std::sort(names_.begin(), names_.end(), ascending);
    }
    sorted_.reserve(names_.size());
    marks_.reserve(names_.size());
    for (size_t i = 0; i < names_.size(); ++i) {
      const Name& name = names_[i];
      // Sorted, so a name repeats its neighbour; different prefixes differ.
      const bool repeats =
          i > 0 && names_[i - 1].prefix == name.prefix && names_[i - 1].text == name.text;
      if (!repeats) {
        sorted_.push_back(name.text);
        marks_.push_back(name.marked);
      } else {
        marks_.back() |= static_cast<uint8_t>(name.marked);
      }
    }
    return sorted_;
  }
  // By position in Sorted().
  std::span<const uint8_t> marks() const { return marks_; }

 private:
  struct Name {
    uint64_t prefix;
    std::string_view text;
    bool marked;
  };

  std::string bytes_;
  std::vector<std::pair<size_t, size_t>> copies_;
  std::vector<Name> names_;
  std::vector<std::string_view> sorted_;
  std::vector<uint8_t> marks_;
};

// Where `name` has its first NUL, or npos: names seldom hold one.
size_t NulAt(std::string_view name) {
  return HoldsEither(name, '\0', '\0') ? name.find('\0') : std::string_view::npos;
}

// Where the walk stands: the key in each syntax file and at each level.
struct Position {
  StoreKey syntax[kSyntaxFiles];
  // A syntax root that names no key lists nothing itself, but a path below
  // it names a top-level key.
  bool syntaxAtRoot[kSyntaxFiles] = {};
  LevelKeys levels;
};

struct Walker {
  Walker(void (*visit)(void* context, const SyntaxWalkKey& key), void* context)
      : visit(visit), context(context) {}

  void (*visit)(void* context, const SyntaxWalkKey& key);
  void* context;
  int firstFile = -1;  // the first syntax file there is, or -1
  std::string path;
  MergedNames values;  // of the key being visited
  std::vector<std::string_view> valueNames;  // of one syntax file's key
  std::vector<uint8_t> singleFileMarks;      // of a key in one syntax file
  // By depth: the subkeys of the keys the walk is below.
  std::vector<std::unique_ptr<MergedNames>> subkeysByDepth;
  // By depth: the child being visited, reused for each sibling so that its
  // buffers are made once, not for every key.
  std::vector<std::unique_ptr<Position>> childrenByDepth;
  size_t depth = 0;

  // Adds the names as the enumerations read them: up to the first NUL, the
  // overlong left out; a key named by nothing is no key.
  static void AddSubkeyNames(TalRegKey key, MergedNames& names) {
    auto add = [&names](std::string_view name) {
      if (name.size() > kLongestSubkeyName) return;
      name = name.substr(0, name.find('\0'));
      if (!name.empty()) names.AddCopy(name);
    };
    static_cast<void>(TalRegVisitSubkeysA(
        key,
        [](void* target, std::string_view name) { (*static_cast<decltype(add)*>(target))(name); },
        &add));
  }

  void VisitChildren(const Position& at) {
    if (subkeysByDepth.size() == depth) {
      subkeysByDepth.push_back(std::make_unique<MergedNames>());
      childrenByDepth.push_back(std::make_unique<Position>());
    }
    MergedNames& subkeys = *subkeysByDepth[depth];
    Position& child = *childrenByDepth[depth];
    subkeys.Clear();
    ++depth;
    for (const StoreKey& key : at.syntax) {
      if (key.get() != nullptr) AddSubkeyNames(key.get(), subkeys);
    }
    std::vector<std::string_view> split;
    for (const std::string_view& name : subkeys.Sorted()) {
      const std::span<const std::string_view> names = cfgkit::KeyPathComponents(name, &split);
      // A name of separators alone names its parent again: the walk would not end.
      if (names.empty()) continue;
      for (int i = 0; i < kSyntaxFiles; ++i) {
        const bool below = at.syntax[i].get() != nullptr || at.syntaxAtRoot[i];
        child.syntax[i] = below ? OpenNames(at.syntax[i].get(), names) : StoreKey();
      }
      child.levels.OpenChild(at.levels, name);
      const size_t pathSize = path.size();
      if (!path.empty()) path.push_back('/');
      path.append(name);
      VisitKey(child);
      path.resize(pathSize);
    }
    --depth;
  }

  void VisitKey(const Position& at) {
    std::span<const uint8_t> marks;
    const std::span<const std::string_view> names = ValueNames(at, &marks);
    visit(context, {path, names, marks, at.levels});
    VisitChildren(at);
  }

  // The names of the key's entries over the syntax files, sorted, each once,
  // and their marks (see SyntaxWalkKey::spelledAsDefined).
  std::span<const std::string_view> ValueNames(const Position& at,
                                               std::span<const uint8_t>* marks) {
    int files = 0, only = -1;
    for (int i = 0; i < kSyntaxFiles; ++i) {
      if (at.syntax[i].get() != nullptr) ++files, only = i;
    }
    // A key of one file whose names are all kept whole comes sorted and
    // distinct from the store: nothing to merge.
    if (files == 1 && TalRegValueNamesByNameA(at.syntax[only].get(), &valueNames) == kTalRegOk &&
        std::none_of(valueNames.begin(), valueNames.end(), [](std::string_view name) {
          return name.size() > kLongestValueName || NulAt(name) != std::string_view::npos;
        })) {
      singleFileMarks.assign(valueNames.size(), only == firstFile);
      *marks = singleFileMarks;
      return valueNames;
    }
    values.Clear();
    for (int i = 0; i < kSyntaxFiles; ++i) {
      if (at.syntax[i].get() == nullptr ||
          TalRegValueNamesByNameA(at.syntax[i].get(), &valueNames) != kTalRegOk) {
        continue;
      }
      // A name the syntax search takes as spelled: one the first file there
      // is defines here whole, not cut at a NUL.
      const bool first = i == firstFile;
      for (const std::string_view name : valueNames) {
        if (name.size() > kLongestValueName) continue;
        const size_t cut = NulAt(name);
        values.Add(name.substr(0, cut), first && cut == std::string_view::npos);
      }
    }
    const std::span<const std::string_view> names = values.Sorted();
    *marks = values.marks();
    return names;
  }
};

}  // namespace

void SyntaxWalk::Walk(MorixRegistryImpl& registry, uint32_t top,
                      std::span<const ConfigurationProvider> providers,
                      void (*visit)(void* context, const SyntaxWalkKey& key), void* context) {
  registry.EnsureMorixRegistryIsLoaded();
  TalRegExpectWholeReads();
  Walker walker(visit, context);
  Position root;
  for (int i = 0; i < std::min(registry.GetNumSyntaxFiles(), kSyntaxFiles); ++i) {
    const std::string name = registry.GetSyntaxRootKeyName(i).ASCII();
    const std::vector<std::string_view> names = cfgkit::KeyPathComponents(name);
    root.syntaxAtRoot[i] = names.empty();
    if (!names.empty()) root.syntax[i] = OpenNames(nullptr, names);
    if (root.syntax[i].get() != nullptr && walker.firstFile < 0) walker.firstFile = i;
  }
  root.levels.Open(registry, top, std::string_view(), providers);
  walker.VisitChildren(root);
}

void SyntaxWalk::FindEntries(const SyntaxWalkKey& key, std::span<const ConfigurationProvider> order,
                             std::vector<TalRegValueView>& rows) {
  TalRegKey keys[ProviderAdmin] = {};
  const size_t count = std::min<size_t>(order.size(), ProviderAdmin);
  for (size_t i = 0; i < count; ++i) keys[i] = key.levels.KeyOf(order[i]);
  rows.resize(key.names.size() * count);
  static_cast<void>(
      TalRegFindValuesA(keys, count, key.names.data(), key.names.size(), rows.data()));
}
