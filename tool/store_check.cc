#include "tool/store_check.h"

#include <map>

#include "registry/store_value.h"
#include "tool/key_operations.h"
#include "tool/tool_options.h"

namespace {

// Files that do not load and folders that cannot be listed; fills in the
// file each level is read from.
void CheckFiles(MorixRegistryImpl& registry, CheckResult& result,
                std::map<uint32_t, std::string>& levelFiles) {
  std::vector<TalRegFileReport> folders;
  registry.GetUnlistedFolders(folders);
  for (const TalRegFileReport& folder : folders) {
    Finding& finding = result.findings.emplace_back();
    finding.kind = FindingKind::kUnreadable;
    finding.path = folder.path;
    finding.isFolder = true;
    finding.reason = folder.reason;
  }
  std::vector<RegistryFileReport> files;
  registry.GetRegistryFileReports(files);
  for (const RegistryFileReport& file : files) {
    const TalRegFileReport& report = file.report;
    if (report.path.empty()) continue;
    ++result.filesChecked;
    levelFiles.emplace(file.provider, report.path);
    if (report.status == kTalRegOk) continue;
    Finding& finding = result.findings.emplace_back();
    finding.kind =
        report.status == kTalRegProtected ? FindingKind::kDamaged : FindingKind::kUnreadable;
    finding.path = report.path;
    finding.reason = report.reason;
  }
}

// A value is checked against its declaration as a Set finds it: in the alias
// table, else in the syntax, spelled there in any letter case.
void CheckValue(MorixRegistryImpl& registry, int level, const std::string& file,
                const ProviderValue& value, std::vector<Finding>& findings) {
  Finding finding;
  finding.path = file;
  finding.level = level;
  finding.key = value.section.empty() ? value.name : value.section + "/" + value.name;
  auto add = [&findings, &finding](FindingKind kind) {
    findings.push_back(finding);
    findings.back().kind = kind;
  };
  AString section = AString::FromBytes(value.section);
  AString entry = AString::FromBytes(value.name);
  bool syntaxFound = false;
  const int declared = SpellSetting(registry, section, entry, &syntaxFound);
  if (declared == 0 && syntaxFound) {
    add(FindingKind::kUndefined);
  } else if (declared != 0) {
    // -1: an unnamed value of a declared key, which declares no type.
    if (declared > 0 && declared != value.type) {
      finding.type = value.type;
      finding.declaredType = declared;
      add(FindingKind::kType);
    }
    finding.declaredKey = DisplayKey(section, entry).ASCII();
    if (finding.declaredKey != finding.key) add(FindingKind::kSpelling);
  }
  if (value.type == kTalRegTypeString && value.textSize > kLongestStoreText) {
    finding.bytes = value.textSize;
    add(FindingKind::kTooLong);
  }
}

}  // namespace

CheckResult CheckStore(MorixRegistryImpl& registry) {
  CheckResult result;
  std::map<uint32_t, std::string> levelFiles;
  CheckFiles(registry, result, levelFiles);
  std::vector<ProviderValue> values;
  for (int level = ProviderUserMachine; level <= ProviderAdmin; ++level) {
    values.clear();
    registry.GetProviderValues(level, values);
    for (const ProviderValue& value : values) {
      CheckValue(registry, level, levelFiles[level], value, result.findings);
    }
  }
  return result;
}
