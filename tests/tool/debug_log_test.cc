// The debug log at level 5 of a table of runs, compared line for line with
// the logs recorded in tests/data/debug_logs/: every log line the tool writes, in
// its order, whatever reads the registry underneath. The installation's root
// and the host name are written {root} and {host} there.
//
// To record them anew: SETWISE_RECORD_LOGS=1 build/default/tests/tool/cli_tests
//   --gtest_filter='CliDebugLog.*'

#include <regex>

#include "test_util.h"

namespace testsupport {
namespace {

// The host name where it stands as a name of its own ("vm_user", "vm.XML").
void ReplaceHost(std::string& text, const std::string& host) {
  const std::string literal =
      std::regex_replace(host, std::regex(R"([.^$|()\[\]{}*+?\\-])"), R"(\$&)");
  text = std::regex_replace(text, std::regex("(^|[^[:alnum:]])" + literal + "(?![[:alnum:]])"),
                            "$1{host}");
}

std::string Normalised(std::string log, const Installation& in) {
  std::string root = in.root_.string(), backslashed = root;
  for (char& c : backslashed) c = c == '/' ? '\\' : c;
  ReplaceAll(log, root, "{root}");
  ReplaceAll(log, backslashed, "{root}");
  ReplaceHost(log, HostName());
  return log;
}

TEST(CliDebugLog, EveryRunLogsAsRecorded) {
  Installation in(/*withSyntax=*/true);
  // A second syntax file that spells a key and an entry in other letter case.
  WriteStoreFile(
      in.adminDir(), "CoreRegistrySyntax",
      Key("desktop", Int("Recent") + Str("THEME") + Str("Zoom")) + Key("Logging", Str("File")));
  const std::pair<const char*, Args> runs[] = {
      {"get_by_precedence", Get("desktop/theme")},
      {"get_integer_at_level", GetAt("Desktop/FontSize", "user_machine")},
      {"get_alias", Get("Desktop/ZSRConfigurations/Item3")},
      {"get_undefined", Get("Desktop/Nope")},
      {"getkeys", Keys()},
      {"getkeys_pattern", Keys({"*THEME*"})},
      {"getkeys_case", Keys({"Desk*Units", "-Case"})},
      {"set_second_syntax", Set("DESKTOP/zoom", "big", {"-RegistryLevel", "user"})},
      {"set_integer", Set("Solver/Threads", "4", {"-RegistryLevel", "install"})},
      {"delete_value", Delete("Desktop/Options/Units")},
      {"delete_key", Delete("Desktop/Options/Extra")},
      {"getkeys_after_changes", Keys()},
  };
  const fs::path recorded = fs::path(SETWISE_TEST_DATA) / "debug_logs";
  const bool record = getenv("SETWISE_RECORD_LOGS") != nullptr;
  for (const auto& [name, args] : runs) {
    SCOPED_TRACE(name);
    const fs::path log = in.root_ / "debug.log";
    fs::remove(log);
    auto run = in.Run(args, "", {"TALVEN_DEBUG_LEVEL=5", "TALVEN_DEBUG_FILE=" + log.string()});
    EXPECT_EQ("", run.err);
    const std::string lines = Normalised(ReadFile(log), in);
    const fs::path expected = recorded / (std::string(name) + ".log");
    if (record) {
      fs::create_directories(recorded);
      std::ofstream(expected, std::ios::binary) << lines;
    }
    EXPECT_EQ(ReadFile(expected), lines);
  }
}

}  // namespace
}  // namespace testsupport
