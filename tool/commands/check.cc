#include <cstdio>

#include "tool/commands/commands.h"
#include "tool/messages.h"
#include "tool/setting_json.h"
#include "tool/store_check.h"
#include "tool/tool_registry_access.h"
#include "vxcore/console_output.h"

namespace {

constexpr int kNothingFound = 0;
constexpr int kFoundSomething = 1;

const char* KindName(FindingKind kind) {
  switch (kind) {
    case FindingKind::kDamaged:
      return "damaged";
    case FindingKind::kUnreadable:
      return "unreadable";
    case FindingKind::kUndefined:
      return "undefined";
    case FindingKind::kType:
      return "type";
    case FindingKind::kSpelling:
      return "spelling";
    case FindingKind::kTooLong:
      return "too_long";
  }
  return "";
}

std::string Level(const Finding& finding) { return LevelName(finding.level).ASCII(); }
std::string Type(int type) { return ValueTypeName(type).ASCII(); }

void PrintText(const Finding& finding) {
  const char* path = finding.path.c_str();
  const char* key = finding.key.c_str();
  switch (finding.kind) {
    case FindingKind::kDamaged:
      core::PrintNarrow(msg::kCheckDamaged, path, finding.reason.c_str());
      break;
    case FindingKind::kUnreadable:
      core::PrintNarrow(finding.isFolder ? msg::kCheckUnreadableFolder : msg::kCheckUnreadableFile,
                        path, finding.reason.c_str());
      break;
    case FindingKind::kUndefined:
      core::PrintNarrow(msg::kCheckUndefined, key, Level(finding).c_str(), path);
      break;
    case FindingKind::kType:
      core::PrintNarrow(msg::kCheckType, key, Level(finding).c_str(), path,
                        Type(finding.type).c_str(), Type(finding.declaredType).c_str());
      break;
    case FindingKind::kSpelling:
      core::PrintNarrow(msg::kCheckSpelling, key, Level(finding).c_str(), path,
                        finding.declaredKey.c_str());
      break;
    case FindingKind::kTooLong:
      core::PrintNarrow(msg::kCheckTooLong, key, Level(finding).c_str(), path, finding.bytes);
      break;
  }
}

Json FindingJson(const Finding& finding) {
  Json object = {{"kind", KindName(finding.kind)}};
  PutBytes(object, finding.isFolder ? "folder" : "file", finding.path);
  if (finding.kind == FindingKind::kDamaged || finding.kind == FindingKind::kUnreadable) {
    PutBytes(object, "reason", finding.reason);
    return object;
  }
  object["level"] = Level(finding);
  PutBytes(object, "key", finding.key);
  if (finding.kind == FindingKind::kType) {
    object["type"] = Type(finding.type);
    object["declared"] = Type(finding.declaredType);
  } else if (finding.kind == FindingKind::kSpelling) {
    PutBytes(object, "declared", finding.declaredKey);
  } else if (finding.kind == FindingKind::kTooLong) {
    object["bytes"] = finding.bytes;
  }
  return object;
}

std::string Summary(const CheckResult& result) {
  char line[96];
  std::snprintf(line, sizeof line, msg::kCheckSummary, result.filesChecked, result.findings.size());
  return line;
}

}  // namespace

int RunCheck(ToolOptions& options, JsonOutput* json) {
  ProductRegistry product(options);
  MorixRegistryImpl& registry = product.registry;
  registry.readOnlyLoad = true;
  const CheckResult result = CheckStore(registry);
  const int status = result.findings.empty() ? kNothingFound : kFoundSomething;
  if (json != nullptr) {
    Json findings = Json::array();
    for (const Finding& finding : result.findings) findings.push_back(FindingJson(finding));
    json->Print({{"files_checked", result.filesChecked},
                 {"findings", std::move(findings)},
                 {"summary", MessageText(Summary(result))}});
    return status;
  }
  for (const Finding& finding : result.findings) PrintText(finding);
  core::PrintBytes(Summary(result));
  return status;
}
