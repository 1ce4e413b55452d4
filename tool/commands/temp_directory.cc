#include <new>

#include "tool/commands/commands.h"
#include "tool/finish_change.h"
#include "tool/messages.h"
#include "tool/setting_json.h"
#include "tool/tool_registry_access.h"
#include "vxcore/console_output.h"
#include "vxcore/registry_access_vx.h"
#include "vxcore/vxcore_init.h"

namespace {

const AString kTempDirectoryEntry = L"TempDirectory";

// The library numbers the levels the other way round, from install (0) to
// user_machine (3).
int ToVxProvider(int level) {
  return level >= ProviderUserMachine && level <= ProviderInstall ? ProviderInstall - level
                                                                   : RegistryAccessVx::kNoProvider;
}

const wchar_t* VxProviderName(int provider) {
  if (provider >= RegistryAccessVx::kInstall && provider <= RegistryAccessVx::kUserMachine) {
    return kLevelNames[ProviderInstall - provider - 1];
  }
  return provider == RegistryAccessVx::kNoProvider ? L"not found" : L"other/unknown";
}

struct TempReading {
  bool found;
  AString value;
  int provider;  // where it was found, when read by precedence
};

TempReading ReadTempDirectory(int provider) {
  TempReading reading{false, AString(), provider};
  if (provider == RegistryAccessVx::kNoProvider) {
    reading.value = RegistryAccessVx::GetRegistryStringUsePrecedence(
        reading.provider, AString(), kTempDirectoryEntry, AString(), true);
    reading.found = !reading.value.empty();
  } else {
    bool found = false;
    reading.value = RegistryAccessVx::GetRegistryString(found, provider, AString(),
                                                        kTempDirectoryEntry, AString());
    reading.found = found && !reading.value.empty();
  }
  return reading;
}

void GetTempDirectory(int provider) {
  const wchar_t* entry = kTempDirectoryEntry.c_str();
  const TempReading reading = ReadTempDirectory(provider);
  if (reading.found) {
    core::PrintWide(msg::kTempFound, entry, reading.value.c_str(),
                    VxProviderName(reading.provider));
  } else if (provider == RegistryAccessVx::kNoProvider) {
    core::PrintWide(msg::kNotFound, entry);
  } else {
    core::PrintWide(msg::kNotFoundAtLevel, entry, VxProviderName(provider));
  }
}

bool WriteTempDirectory(int provider, const AString& value, bool dryRun) {
  return dryRun ? RegistryAccessVx::ForeseeWriteRegistryString(provider, AString(),
                                                               kTempDirectoryEntry, value)
                : RegistryAccessVx::WriteRegistryString(provider, AString(), kTempDirectoryEntry,
                                                        value);
}

enum TempOutcome { TempCreated, TempChanged, TempUnchanged, TempDeleted, TempAbsent };

const char* const kTempOutcomeNames[] = {"created", "changed", "unchanged", "deleted", "absent"};

// What a Set of `value`, or a Delete, does to the entry as `before` holds
// it: the empty text counts as no value.
TempOutcome OutcomeOf(const TempReading& before, int32_t command, const wchar_t* value) {
  if (command != CommandSet) return before.found ? TempDeleted : TempAbsent;
  if (before.found) return before.value.Compare(value) == 0 ? TempUnchanged : TempChanged;
  return value == nullptr || *value == L'\0' ? TempUnchanged : TempCreated;
}

void PrintDryRunSummary(int level, TempOutcome outcome) {
  ChangeCounts counts;
  int* const byOutcome[] = {&counts.created, &counts.changed, &counts.unchanged, &counts.deleted,
                            &counts.absent};
  ++*byOutcome[outcome];
  PrintDryRunSummary(level, counts);
}

// A real run tells whether it saved; a dry run only that it was one. A save
// that fails, or would, gives the text form's line as the error.
void PutSaved(Json& document, bool saved, bool dryRun, const AString& failure) {
  if (dryRun) {
    document["dry_run"] = true;
  } else {
    document["saved"] = saved;
  }
  if (!saved) document["error"] = MessageText(failure.ASCII());
}

// The JSON forms: as for a product setting, the value always a string.
int TempDirectoryJson(int32_t command, int provider, const wchar_t* newValue, bool dryRun,
                      JsonOutput& json) {
  const TempReading before = ReadTempDirectory(provider);
  const int level = before.found ? before.provider : provider;
  Json document = SettingJson(kTempDirectoryEntry, ProviderNone);
  if (level != RegistryAccessVx::kNoProvider) {
    document["level"] = AString(VxProviderName(level)).ASCII();
  }
  int status = JsonDone;
  if (command == CommandGet) {
    document["found"] = before.found;
    if (before.found) PutValue(document, before.value.ASCII(), kTypeString);
    status = before.found ? JsonDone : JsonNotFound;
  } else {
    const TempOutcome outcome = OutcomeOf(before, command, newValue);
    document["outcome"] = kTempOutcomeNames[outcome];
    if (command == CommandSet) {
      const bool saved = WriteTempDirectory(provider, newValue, dryRun);
      PutValue(document, AString(newValue).ASCII(), kTypeString);
      AString failure;
      failure.Format(msg::kTempSetFailed, kTempDirectoryEntry.c_str(), newValue,
                     VxProviderName(provider));
      PutSaved(document, saved, dryRun, failure);
      status = saved || outcome == TempUnchanged ? JsonDone : JsonNotSaved;
    } else if (outcome == TempAbsent) {
      status = JsonNotFound;
    } else {
      const bool saved = WriteTempDirectory(provider, AString(), dryRun);
      document["deleted"] = "value";
      AString failure;
      failure.Format(msg::kTempDeleteFailed, kTempDirectoryEntry.c_str(), VxProviderName(provider));
      PutSaved(document, saved, dryRun, failure);
      status = saved ? JsonDone : JsonNotSaved;
    }
  }
  json.Print(std::move(document));
  return status;
}

}  // namespace

int RunTempDirectory(int32_t command, ToolOptions& options, int level, JsonOutput* json) {
  const wchar_t* entry = kTempDirectoryEntry.c_str();
  if (level == ProviderAdmin) {
    core::PrintWide(msg::kLevelNotValidFor, LevelName(level).c_str(), entry);
    if (json == nullptr) return -1;
    json->Print({{"key", AString(entry).ASCII()}, {"error", "bad usage"}});
    return JsonRefused;
  }
  // Lives until the process ends, as the library expects of its host.
  static ITalvenApplication* application =
      new (std::nothrow) SetwiseTalvenApplication(options.values[SlotProductName]);
  InitVxcoreDLL(application);

  int provider = ToVxProvider(level);
  if (json != nullptr) {
    return TempDirectoryJson(command, provider, options.values[SlotRegistryValue],
                             options.dryRun, *json);
  }
  if (command == CommandGet) {
    GetTempDirectory(provider);
  } else if (command == CommandSet) {
    const wchar_t* value = options.values[SlotRegistryValue];
    const TempReading before = ReadTempDirectory(provider);
    bool written = WriteTempDirectory(provider, value, options.dryRun);
    core::PrintWide(written ? msg::kTempSet : msg::kTempSetFailed, entry, value,
                    VxProviderName(provider));
    if (written && options.dryRun) PrintDryRunSummary(level, OutcomeOf(before, command, value));
  } else {
    // Only a dry run's summary needs what was there.
    const TempReading before = options.dryRun ? ReadTempDirectory(provider) : TempReading{};
    bool cleared = WriteTempDirectory(provider, AString(), options.dryRun);
    core::PrintWide(cleared ? msg::kTempDeleted : msg::kTempDeleteFailed, entry,
                    VxProviderName(provider));
    if (cleared && options.dryRun) PrintDryRunSummary(level, OutcomeOf(before, command, nullptr));
  }
  return -1;
}
