// The product's syntax files walked as one tree: every key depth first, a
// key's subkeys and entries in ascending byte order, each name once over all
// files, as the merged enumerations give them. The keys of each level are
// followed alongside, so that a key's entries are read where the walk stands.
//
// A child is reached from its parent by its name split as a path is, so each
// key of the walk is the key that opening its path finds. The walk logs
// nothing: a caller with a debug log runs the logged enumerations first.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "registry/level_keys.h"

class MorixRegistryImpl;

// One key of the walk, valid during its visit.
struct SyntaxWalkKey {
  std::string_view path;                    // its names joined by '/'
  std::span<const std::string_view> names;  // its entries' names, ascending
  // By entry: whether the first syntax file there is, the one the syntax
  // search asks first, defines it here by exactly that name, so that the
  // search takes it as spelled.
  std::span<const uint8_t> spelledAsDefined;
  const LevelKeys& levels;  // the key at the levels asked for
};

class SyntaxWalk {
 public:
  // Walks the syntax of `registry`'s product, following the keys of
  // `providers` below `top`, and calls `visit(const SyntaxWalkKey&)` for
  // each key in listing order.
  template <class Visit>
  static void Run(MorixRegistryImpl& registry, uint32_t top,
                  std::span<const ConfigurationProvider> providers, Visit&& visit) {
    using Target = std::remove_reference_t<Visit>;
    Walk(
        registry, top, providers,
        [](void* target, const SyntaxWalkKey& key) { (*static_cast<Target*>(target))(key); },
        &visit);
  }

  // The values of every entry of `key` looked up at once: row i, of
  // order.size() views, is LevelKeys::FindAll's for key.names[i].
  static void FindEntries(const SyntaxWalkKey& key, std::span<const ConfigurationProvider> order,
                          std::vector<TalRegValueView>& rows);

 private:
  static void Walk(MorixRegistryImpl& registry, uint32_t top,
                   std::span<const ConfigurationProvider> providers,
                   void (*visit)(void* context, const SyntaxWalkKey& key), void* context);
};
