// The configuration store: a tree of keys holding named string and 32-bit
// integer values, loaded from the store files of an admin and a user folder.
//
// All text is 8-bit (UTF-8 passes through byte for byte). Key paths name keys
// from a top-level key down, components joined by '/' or '\'; empty components
// are skipped, names match exactly. A null parent handle means the root, whose
// subkeys are the top-level keys. Every operation returns a status: 0 on
// success, else one of the negative codes below. Not thread-safe: one store
// per process, used from one thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cfgkit/file_ops.h"
#include "cfgkit/handle_table.h"
#include "cfgkit/store_options.h"

using TalRegKey = cfgkit::KeyHandle;

constexpr int kTalRegOk = 0;
constexpr int kTalRegInvalidHandle = -1;     // null, unknown or closed handle
constexpr int kTalRegInvalidArgument = -2;   // null pointer, or a path naming no key
constexpr int kTalRegValueNotFound = -3;     // the key has no such value
constexpr int kTalRegBufferTooSmall = -4;    // the needed size was written back
constexpr int kTalRegWrongType = -5;         // a typed read of a value of the other type
constexpr int kTalRegProtected = -6;         // the top-level key's file is damaged
constexpr int kTalRegKeyNotFound = -7;       // no key at that path
constexpr int kTalRegIoError = -8;           // a folder could not be read, or a save failed
constexpr int kTalRegStaleHandle = -9;       // the handle's key was deleted
constexpr int kTalRegIndexOutOfRange = -10;  // no subkey or value at that index
constexpr int kTalRegNotLoaded = -11;        // called before _LoadPathsA
constexpr int kTalRegTooDeep = -12;          // keys nested deeper than the store allows

constexpr int32_t kTalRegTypeString = 2;
constexpr int32_t kTalRegTypeInt32 = 4;

// Loads the store from both folders, replacing what was loaded before (every
// handle is closed). Damaged files are reported on the log sink, skipped and
// protected; 0 even then. kTalRegIoError when a folder exists but cannot be
// listed (the rest is loaded all the same).
[[nodiscard]] int _LoadPathsA(const char* adminDir, const char* userDir);

// Opens the key at `path` below `parent`; kTalRegKeyNotFound when it is missing.
// With a parent handle an empty path opens the parent again.
[[nodiscard]] int TalRegOpenKeyA(TalRegKey parent, const char* path, TalRegKey* key);

// Opens the key at `path`, creating it and its missing parents; a new
// top-level key is saved into its home folder. kTalRegInvalidArgument for a
// new top-level key that no store file could hold (a name beginning with '.'
// or longer than 200 bytes).
[[nodiscard]] int TalRegCreateKeyA(TalRegKey parent, const char* path, TalRegKey* key);

[[nodiscard]] int TalRegCloseKey(TalRegKey key);

// Opens the subkey of `parent` (null: the root) called exactly `name`: one
// look-up by name, the name never split. kTalRegKeyNotFound when there is none.
[[nodiscard]] int TalRegOpenSubkeyA(TalRegKey parent, std::string_view name, TalRegKey* key);

// Copies the string value `name` (null: the unnamed value) and a NUL into
// `buffer`. `*size` is the buffer's size in bytes; it is set to the size the
// text needs with its NUL, and kTalRegBufferTooSmall is returned when that
// does not fit (nothing is copied). `buffer` may be null to ask for the size.
[[nodiscard]] int TalRegGetStringValueA(TalRegKey key, const char* name, char* buffer,
                                        int32_t* size);
[[nodiscard]] int TalRegGetInt32ValueA(TalRegKey key, const char* name, int32_t* value);

// Store the value, replacing a value of the same name whatever its type.
[[nodiscard]] int TalRegSetStringValueA(TalRegKey key, const char* name, const char* text);
[[nodiscard]] int TalRegSetInt32ValueA(TalRegKey key, const char* name, int32_t value);

// 0 exactly when the value exists; `*type` is kTalRegTypeString or kTalRegTypeInt32.
[[nodiscard]] int TalRegGetValueTypeA(TalRegKey key, const char* name, int32_t* type);
[[nodiscard]] int TalRegDeleteValueA(TalRegKey key, const char* name);

// Deletes the key at `path` below `parent` with every key and value below it.
// Open handles on deleted keys become stale.
[[nodiscard]] int TalRegDeleteKeyRecursiveA(TalRegKey parent, const char* path);

[[nodiscard]] int TalRegGetNumKeys(TalRegKey key, int32_t* count);
[[nodiscard]] int TalRegGetNumValues(TalRegKey key, int32_t* count);

// The name of the subkey or value at `index` (store order from 0); buffer and
// size as for TalRegGetStringValueA.
[[nodiscard]] int TalRegGetSubKeyNameA(TalRegKey key, int32_t index, char* buffer, int32_t* size);
[[nodiscard]] int TalRegGetValueNameA(TalRegKey key, int32_t index, char* buffer, int32_t* size);

// One value as TalRegVisitValuesA shows it, in place: the views are valid
// until the store is changed or loaded again (a file read again because its
// image broke leaves them valid).
struct TalRegValueView {
  std::string_view name;
  int32_t type;  // kTalRegTypeString or kTalRegTypeInt32
  std::string_view text;
  int32_t number;
};

// Calls `visit(context, value)` for each value of `key` in store order (the
// order of TalRegGetValueNameA), without copying names or texts: for reading
// all values of a key at once. `visit` must not call the store.
[[nodiscard]] int TalRegVisitValuesA(TalRegKey key,
                                     void (*visit)(void* context, const TalRegValueView& value),
                                     void* context);
// Replaces `names` with the names of `key`'s values in ascending byte order,
// seen in place as TalRegVisitValuesA shows them: for listing a key's values
// in order.
[[nodiscard]] int TalRegValueNamesByNameA(TalRegKey key, std::vector<std::string_view>* names);

// Looks up each of `nameCount` names, called exactly so, in each of
// `keyCount` keys at once: values[n * keyCount + k] is names[n]'s value in
// keys[k], seen in place as TalRegVisitValuesA shows it, with type 0 where
// that key has none or is null. Each key is resolved once and each name
// hashed once.
[[nodiscard]] int TalRegFindValuesA(const TalRegKey* keys, size_t keyCount,
                                    const std::string_view* names, size_t nameCount,
                                    TalRegValueView* values);

// Calls `visit(context, name)` with the name of each subkey of `key` in store
// order, without copying them. `visit` must not call the store.
[[nodiscard]] int TalRegVisitSubkeysA(TalRegKey key,
                                      void (*visit)(void* context, std::string_view name),
                                      void* context);

// A store file (or folder) as the last _LoadPathsA found it.
struct TalRegFileReport {
  std::string path;        // empty when neither folder holds the file
  int status = kTalRegOk;  // kTalRegProtected: damaged; kTalRegIoError: it cannot be read
  // Why not: the parser's reason, at a line and column where it gives one,
  // or the system's error.
  std::string reason;
};

// Reports on the file of the top-level key `name`, reading it now if this
// run has not read it yet. Changes nothing on disk.
[[nodiscard]] int TalRegReportFileA(const char* name, TalRegFileReport* report);

// Reports on each folder that the last _LoadPathsA could not list.
[[nodiscard]] int TalRegReportUnlistedFolders(std::vector<TalRegFileReport>* folders);

// The run will read most of every file it reads, as a listing does: images
// are then mapped in whole, not page by page. Until the next _LoadPathsA.
void TalRegExpectWholeReads();

// Writes the files of every top-level key changed since the load or the last
// save, each atomically; the file of a deleted top-level key is removed from
// the folder it was loaded from. On failure every old file is left as it was.
[[nodiscard]] int TalRegSave();

// What TalRegSave would meet before it writes: a folder the load could not
// list, a file or folder this user may not replace or create, a link it may
// not follow. kTalRegIoError, logged as a save failure is, when it would
// fail; writes nothing.
[[nodiscard]] int TalRegForeseeSave();

// Where the store sends its diagnostics (damaged files); null: nowhere, and
// then each _LoadPathsA reads a file only when its top-level key is first
// opened or created. `line` ends with a line break.
void TalRegSetLogSink(void (*sink)(int level, const char* line));

// The options of the next _LoadPathsA and everything after it (where the
// cache of compiled images lives, how long a change counts as recent); null
// restores the defaults, which follow the environment at each load.
void TalRegSetStoreOptions(const cfgkit::StoreOptions* options);

// Which top-level keys' images keep each key's values in name order (see
// StoreOptions::keepsNameOrder) from the next _LoadPathsA on, whatever the
// options; null: none.
void TalRegKeepNameOrderOf(bool (*keeps)(std::string_view topKey));

// The file operations the next _LoadPathsA and everything after it use;
// null restores the real file system. `ops` must outlive its use.
void TalRegUseFileOps(cfgkit::FileOps* ops);
