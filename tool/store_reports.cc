#include "tool/store_reports.h"

#include <functional>

#include "tool/messages.h"
#include "tool/set_setting.h"
#include "tool/setting_json.h"
#include "tool/tool_options.h"

namespace {

// The levels named after the host write the file of the host's name: on a
// host named after another level's file or a syntax root, that file.
std::string SharedStoreKeyRefusal(MorixRegistryImpl& registry, int level) {
  if (level != ProviderInstallMachine && level != ProviderUserMachine) return std::string();
  const std::string key = registry.GetProviderFileKey(level);
  if (key.empty()) return std::string();  // a level without a file shares none
  const std::string levelName = LevelName(level).ASCII();
  for (int other = ProviderUserMachine; other <= ProviderAdmin; ++other) {
    if (other == level || registry.GetProviderFileKey(other) != key) continue;
    const std::string owner = "level <" + LevelName(other).ASCII() + ">";
    return Formatted(msg::kSharedStoreKey, levelName.c_str(), key.c_str(), owner.c_str());
  }
  for (int i = 0; i < registry.GetNumSyntaxFiles(); ++i) {
    if (registry.GetSyntaxRootKeyName(i).ASCII() != key) continue;
    const std::string owner = "the syntax root <" + key + ">";
    return Formatted(msg::kSharedStoreKey, levelName.c_str(), key.c_str(), owner.c_str());
  }
  return std::string();
}

}  // namespace

std::string LevelStoreRefusal(MorixRegistryImpl& registry, int level) {
  if (std::string shared = SharedStoreKeyRefusal(registry, level); !shared.empty()) return shared;
  const std::string folder =
      (LevelUsesAdminFolder(level) ? registry.GetAdminDir() : registry.GetUserConfigDir()).ASCII();
  std::vector<TalRegFileReport> folders;
  registry.GetUnlistedFolders(folders);
  for (const TalRegFileReport& unlisted : folders) {
    if (unlisted.path == folder) return SkippedText({true, false, unlisted.path, unlisted.reason});
  }
  TalRegFileReport report;
  if (registry.GetProviderFileReport(static_cast<uint32_t>(level), report) &&
      report.status != kTalRegOk) {
    return SkippedText({false, report.status == kTalRegProtected, report.path, report.reason});
  }
  return std::string();
}

void ForEachSkipped(MorixRegistryImpl& registry, int level,
                    const std::function<void(const SkippedPart&)>& visit) {
  std::vector<TalRegFileReport> folders;
  registry.GetUnlistedFolders(folders);
  for (const TalRegFileReport& folder : folders) visit({true, false, folder.path, folder.reason});
  std::vector<RegistryFileReport> files;
  registry.GetRegistryFileReports(files);
  for (const RegistryFileReport& file : files) {
    // Every load reads the admin file: it tells a store of many products.
    const bool read = file.provider == ProviderRegistrySyntax || file.provider == ProviderAdmin ||
                      level == ProviderNone || static_cast<int>(file.provider) == level;
    if (!read || file.report.path.empty() || file.report.status == kTalRegOk) continue;
    visit({false, file.report.status == kTalRegProtected, file.report.path, file.report.reason});
  }
}

std::string SkippedText(const SkippedPart& part) {
  const char* format = part.isFolder  ? msg::kImportStoreUnlisted
                       : part.damaged ? msg::kImportStoreDamaged
                                      : msg::kImportStoreUnreadable;
  return Formatted(format, part.path.c_str(), part.reason.c_str());
}

Json StoreWarnings(MorixRegistryImpl& registry, int level) {
  Json warnings = Json::array();
  ForEachSkipped(registry, level, [&warnings](const SkippedPart& part) {
    Json warning = Json::object();
    PutBytes(warning, part.isFolder ? "folder" : "file", part.path);
    if (!part.isFolder) warning["problem"] = part.damaged ? "damaged" : "unreadable";
    PutBytes(warning, "reason", part.reason);
    warnings.push_back(std::move(warning));
  });
  return warnings.empty() ? Json() : warnings;
}
