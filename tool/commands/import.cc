#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "registry/settings_document.h"
#include "registry/store_value.h"
#include "tool/commands/commands.h"
#include "tool/finish_change.h"
#include "tool/key_operations.h"
#include "tool/messages.h"
#include "tool/set_setting.h"
#include "tool/setting_json.h"
#include "tool/store_reports.h"
#include "tool/tool_registry_access.h"
#include "vxcore/console_output.h"

namespace {

enum ImportOutcome { Created, Changed, Unchanged, Deleted, Absent, Refused };

const char* const kOutcomeNames[] = {"created", "changed", "unchanged", "deleted", "absent",
                                     "refused"};

// One entry of the document, checked against the store.
struct PlannedChange {
  AString section, entry;  // in the declared spelling
  bool isRemoval = false;
  bool removesKey = false;
  AString value;
  int type = 0;
  ImportOutcome outcome = Refused;
  std::string refusal;  // the text message, for Refused
};

// A removed key's path is its section alone, without a trailing '/'.
AString KeyOf(const PlannedChange& change) {
  return change.removesKey ? change.section : DisplayKey(change.section, change.entry);
}

bool IsTempDirectory(const AString& section, const AString& entry) {
  return section.empty() && entry.CompareNoCase(L"TempDirectory") == 0;
}

// Why no Set could store the entry as the document gives it, or null: the
// store keeps a text up to its first NUL, a path splits at its last
// separator, and TempDirectory is no product setting, in a deletion as in a
// value.
const char* EntryRefusal(const PlannedChange& change) {
  const bool holdsNul = change.section.find(L'\0') != AString::npos ||
                        change.entry.find(L'\0') != AString::npos ||
                        change.value.find(L'\0') != AString::npos;
  if (holdsNul) return msg::kImportNul;
  if (!change.removesKey && change.entry.find_first_of(L"/\\") != AString::npos) {
    return msg::kImportSeparator;
  }
  return IsTempDirectory(change.section, change.entry) ? msg::kImportTempDirectory : nullptr;
}

void PlanRemoval(MorixRegistryImpl& registry, int level, PlannedChange& change) {
  const char* refusal = EntryRefusal(change);
  if (change.removesKey) {
    change.section = DisplayKey(change.section, change.entry);
    change.entry.clear();
  }
  if (refusal != nullptr) {
    change.refusal = MessageText(refusal);
    return;
  }
  registry.userDirIsAdminDir = LevelUsesAdminFolder(level);
  bool exists;
  if (change.removesKey) {
    AString noEntry;
    NormaliseKey(registry, change.section, noEntry);
    exists = registry.DoesRegistryKeyExistInProvider(HKCU, change.section, level);
  } else {
    NormaliseKey(registry, change.section, change.entry);
    exists = registry.GetRegistryValueType(HKCU, change.section, change.entry, level) != 0;
  }
  change.outcome = exists ? Deleted : Absent;
}

// Whether `section` is the key `removed` or lies below it, in any letter case.
bool IsInKey(const AString& section, const AString& removed) {
  if (section.size() < removed.size()) return false;
  if (section.size() > removed.size() && section[removed.size()] != L'/') return false;
  return AString(section.substr(0, removed.size())).CompareNoCase(removed) == 0;
}

// `removedKeys` are the keys the document deletes (in their declared
// spelling): a value in one of them is checked as the deletion leaves it.
void PlanValue(MorixRegistryImpl& registry, int level, const std::vector<AString>& removedKeys,
               PlannedChange& change) {
  if (const char* refusal = EntryRefusal(change)) {
    change.refusal = MessageText(refusal);
    return;
  }
  bool removed = false;
  if (!removedKeys.empty()) NormaliseKey(registry, change.section, change.entry);
  for (const AString& key : removedKeys) removed |= IsInKey(change.section, key);
  SetResult result = CheckSettingValue(registry, change.section, change.entry, change.value,
                                       change.type, level, removed);
  if (result.refusal != SetAccepted) {
    change.refusal = result.refusal == SetWriteFailed
                         ? MessageText(msg::kSetFailed, KeyOf(change))
                         : MessageText(RefusalText(result.refusal));
    return;
  }
  // The store keeps it, but no Get could read it back.
  const size_t bytes = change.value.size();
  if (result.type == kTypeString && bytes > kLongestStoreText) {
    change.refusal = Formatted(msg::kImportTooLong, bytes, kLongestStoreText);
    return;
  }
  change.type = result.type;
  if (result.holdsValue) {
    change.outcome = Unchanged;
  } else {
    change.outcome = result.outcome == SetCreated ? Created : Changed;
  }
}

// Entries that name one setting once their spelling is corrected are all refused.
void RefuseCollisions(std::vector<PlannedChange>& changes) {
  std::unordered_set<std::wstring> seen, repeated;
  for (const PlannedChange& change : changes) {
    std::wstring key = KeyOf(change) + (change.removesKey ? L"/" : L"");
    if (!seen.insert(key).second) repeated.insert(key);
  }
  for (PlannedChange& change : changes) {
    std::wstring key = KeyOf(change) + (change.removesKey ? L"/" : L"");
    if (repeated.count(key) != 0) {
      change.outcome = Refused;
      change.refusal = MessageText(msg::kImportCollision, KeyOf(change));
    }
  }
}

// Applies every planned change to the loaded store; false (with the
// refusal recorded) when the store refuses one.
bool Apply(MorixRegistryImpl& registry, int level, std::vector<PlannedChange>& changes) {
  registry.userDirIsAdminDir = LevelUsesAdminFolder(level);
  for (PlannedChange& change : changes) {
    bool applied = true;
    // A removal inside a key that an earlier removal took is done already.
    if (change.outcome == Deleted && change.removesKey) {
      applied = registry.DeleteRegistryKey(HKCU, change.section, level) ||
                !registry.DoesRegistryKeyExistInProvider(HKCU, change.section, level);
    } else if (change.outcome == Deleted) {
      applied = registry.DeleteRegistryEntry(HKCU, change.section, change.entry, level) ||
                registry.GetRegistryValueType(HKCU, change.section, change.entry, level) == 0;
    } else if (change.outcome == Created || change.outcome == Changed) {
      applied =
          WriteSettingValue(registry, change.section, change.entry, change.value, change.type, level);
    }
    if (!applied) {
      change.outcome = Refused;
      change.refusal = MessageText(msg::kSetFailed, KeyOf(change));
      return false;
    }
  }
  return true;
}

Json ChangeJson(const PlannedChange& change) {
  Json object = Json::object();
  PutBytes(object, "key", KeyOf(change).ASCII());
  object["outcome"] = kOutcomeNames[change.outcome];
  if (change.isRemoval) object["deletes"] = change.removesKey ? "key" : "value";
  if (change.outcome == Refused) {
    object["refused"] = change.refusal;
  } else if (!change.isRemoval) {
    PutValue(object, change.value.ASCII(), change.type);
  }
  return object;
}

void PrintChangeText(const PlannedChange& change) {
  const AString key = KeyOf(change);
  const AString type = ValueTypeName(change.type);
  switch (change.outcome) {
    case Created:
      core::PrintWide(msg::kImportCreated, key.c_str(), change.value.c_str(), type.c_str());
      break;
    case Changed:
      core::PrintWide(msg::kImportChanged, key.c_str(), change.value.c_str(), type.c_str());
      break;
    case Unchanged:
      core::PrintWide(msg::kImportUnchanged, key.c_str(), change.value.c_str());
      break;
    case Deleted:
      core::PrintWide(change.removesKey ? msg::kImportKeyDeleted : msg::kImportDeleted, key.c_str());
      break;
    case Absent:
      core::PrintWide(change.removesKey ? msg::kImportKeyAbsent : msg::kImportAbsent, key.c_str());
      break;
    case Refused:
      core::PrintWide(msg::kImportRefused, key.c_str());
      core::PrintBytes(change.refusal + "\n");
      break;
  }
}

struct Report {
  const std::vector<PlannedChange>& changes;
  int level;
  bool dryRun;
  bool refused;
  bool written;  // something was changed and saved
  bool saveFailed;
};

int PrintReport(const Report& report, JsonOutput* json) {
  int counts[Refused + 1] = {};
  for (const PlannedChange& change : report.changes) ++counts[change.outcome];
  if (json != nullptr) {
    Json entries = Json::array();
    for (const PlannedChange& change : report.changes) entries.push_back(ChangeJson(change));
    Json document = {{"level", LevelName(report.level).ASCII()},
                               {"dry_run", report.dryRun},
                               {"entries", std::move(entries)},
                               {"written", report.written}};
    if (report.saveFailed) document["error"] = MessageText(AString(msg::kSaveFailed).ASCII());
    json->Print(std::move(document));
    if (report.refused) return JsonRefused;
    return report.saveFailed ? JsonNotSaved : JsonDone;
  }
  // After a refusal only the refusals are news: nothing else was done.
  for (const PlannedChange& change : report.changes) {
    if (!report.refused || change.outcome == Refused) PrintChangeText(change);
  }
  if (report.refused) {
    core::PrintWide(msg::kImportNothingRefused, counts[Refused]);
    return -1;
  }
  if (report.saveFailed) {
    core::PrintWide(msg::kSaveFailed);
    core::PrintWide(msg::kImportNothingSaved);
    return -1;
  }
  if (report.dryRun) {
    PrintDryRunSummary(report.level, {counts[Created], counts[Changed], counts[Unchanged],
                                      counts[Deleted], counts[Absent]});
  } else {
    core::PrintWide(msg::kImportSummary, LevelName(report.level).c_str(), counts[Created],
                    counts[Changed], counts[Unchanged], counts[Deleted], counts[Absent]);
  }
  return 0;
}

int DocumentFailure(const AString& file, const DocumentProblem& problem, JsonOutput* json) {
  if (json != nullptr) {
    Json document = Json::object();
    PutBytes(document, "file", file.ASCII());
    PutBytes(document, "error", problem.reason);
    json->Print(std::move(document));
    return JsonRefused;
  }
  core::PrintWide(problem.damaged ? msg::kImportDamaged : msg::kImportUnreadable, file.c_str(),
                  AString::FromBytes(problem.reason).c_str());
  return -1;
}

}  // namespace

int RunImport(ToolOptions& options, int level, JsonOutput* json) {
  const AString file = options.values[SlotImportFile];
  std::vector<DocumentEntry> document;
  const DocumentProblem problem = ReadSettingsDocument(file.ASCII(), &document);
  if (!problem.ok()) return DocumentFailure(file, problem, json);

  ProductRegistry product(options);
  MorixRegistryImpl& registry = product.registry;
  registry.userDirIsAdminDir = LevelUsesAdminFolder(level);  // before the store loads
  const std::string storeRefusal = LevelStoreRefusal(registry, level);
  std::vector<PlannedChange> changes(document.size());
  std::vector<AString> removedKeys;
  // The document lists its removals first.
  for (size_t i = 0; i < document.size(); ++i) {
    const DocumentEntry& entry = document[i];
    PlannedChange& change = changes[i];
    change.section = AString::FromBytes(entry.section);
    change.entry = AString::FromBytes(entry.name);
    change.isRemoval = entry.isRemoval;
    change.removesKey = entry.removesKey;
    if (entry.isRemoval) {
      PlanRemoval(registry, level, change);
      if (change.removesKey && change.outcome == Deleted) removedKeys.push_back(change.section);
    } else {
      change.value = AString::FromBytes(entry.text);
      change.type = entry.type;
      PlanValue(registry, level, removedKeys, change);
    }
  }
  RefuseCollisions(changes);
  if (!storeRefusal.empty()) {
    for (PlannedChange& change : changes) {
      change.outcome = Refused;
      change.refusal = storeRefusal;
    }
  }

  Report report{changes, level, options.dryRun, false, false, false};
  for (const PlannedChange& change : changes) report.refused |= change.outcome == Refused;
  bool anyChange = false;
  for (const PlannedChange& change : changes) {
    anyChange |= change.outcome == Created || change.outcome == Changed || change.outcome == Deleted;
  }
  if (!report.refused && anyChange) {
    report.refused = !Apply(registry, level, changes);
    if (!report.refused) {
      report.saveFailed = !FinishChange(registry, report.dryRun);
      report.written = !report.dryRun && !report.saveFailed;
    }
  }
  return PrintReport(report, json);
}
