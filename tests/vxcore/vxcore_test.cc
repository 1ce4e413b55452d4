// The platform layer: AString, its wildcard matching, the printf-like
// formatting it and the console use, folder and file names built from it; the
// two ways out of a run (its standard output and the debug log); and the
// registry of the TempDirectory setting.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "CoreInterfaces/talven_application.h"
#include "support/files.h"
#include "vxcore/assert_failure.h"
#include "vxcore/astring.h"
#include "vxcore/console_output.h"
#include "vxcore/file_utilities.h"
#include "vxcore/long_file_name.h"
#include "vxcore/registry_access_vx.h"
#include "vxcore/tal_debug.h"
#include "vxcore/vxcore_init.h"
#include "vxcore/wide_format.h"
#include "vxcore/wildcard.h"

namespace {

using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::WriteFile;

using core::WildcardCapture;
using core::WildcardMatch;

TEST(AStringTest, EightBitTextSurvivesByteForByte) {
  std::string allBytes;
  for (int b = 1; b < 256; ++b) allBytes.push_back(static_cast<char>(b));
  const AString wide(allBytes.c_str());
  EXPECT_EQ(wide[0xE8], L'\xE9');  // no sign extension of bytes above 127
  EXPECT_EQ(wide.ASCII(), allBytes);
}

TEST(AStringTest, IsNumberAcceptsWholeDecimalTextInThe32BitRange) {
  // The value, or "no" when refused with the output left alone.
  auto parse = [](const wchar_t* text) -> std::string {
    int32_t value = 12345;
    if (AString(text).IsNumber(value)) return std::to_string(value);
    return value == 12345 ? "no" : "changed";
  };
  for (const auto& [text, value] : {std::pair{L"-1", "-1"}, {L"2147483647", "2147483647"},
                                     {L"2147483648", "-2147483648"}, {L"4294967295", "-1"},
                                     {L"-2147483648", "-2147483648"}}) {
    EXPECT_EQ(parse(text), value) << text;
  }
  // The 23 digits overflow 64 bits too.
  for (const wchar_t* text : {L"4294967296", L"-2147483649", L"99999999999999999999999", L"", L"-",
                              L"+1", L" 1", L"1 "}) {
    EXPECT_EQ(parse(text), "no") << text;
  }
}

TEST(AStringTest, TokenizeTrimMidAndFormatStayInBounds) {
  std::vector<AString> parts = {L"stale"};
  AString(L"/a//b\\c\\").TokenizeString(L"\\/", parts, false);
  EXPECT_EQ(parts, (std::vector<AString>{L"a", L"b", L"c"}));
  EXPECT_EQ(AString(L" \t a b \r\n").Trim(), L"a b");
  EXPECT_EQ(AString(L" \n ").Trim(), L"");
  // UTF-8 "à" ends in byte 0xA0, which Latin-1 calls a no-break space: it must stay.
  EXPECT_EQ(AString(" \xC3\xA0 ").Trim(), AString("\xC3\xA0"));
  EXPECT_EQ(AString(L"abc").Mid(4), L"");
  AString text(L"abc");  // Format may read the string it replaces
  EXPECT_EQ(text.Format(L"<%s|%s>", text.c_str(), text.c_str()), L"<abc|abc>");
}

std::wstring F(const wchar_t* format, ...) {
  std::wstring out;
  va_list args;
  va_start(args, format);
  core::AppendFormatV(out, format, args);
  va_end(args);
  return out;
}

TEST(WideFormatTest, DirectivesFormatLikePrintfAndLongArgumentsWhole) {
  const wchar_t* nullText = nullptr;
  const std::pair<std::wstring, const wchar_t*> rows[] = {
      {F(L"<%s> <%ls> %s %s", L"wide", L"too", nullText, L"\x20AC\xE9"),
       L"<wide> <too> (null) \x20AC\xE9"},
      {F(L"%.3s|%6.2s|%-4s|", L"abcdef", L"xyz", L"ab"), L"abc|    xy|ab  |"},
      {F(L"%c%c%3c", L'x', 0x20AC, L'y'), L"x\x20AC  y"},
      {F(L"%i %-5d|%05d %+d %u %#x", -5, 42, 42, 3, 4294967295u, 255u),
       L"-5 42   |00042 +3 4294967295 0xff"},
      // Length modifiers pick the argument's width and truncate as printf does.
      {F(L"%hd %hhu %hhd", 70000, 300, 255), L"4464 44 -1"},
      {F(L"%ld %lld", LONG_MIN, LLONG_MAX), L"-9223372036854775808 9223372036854775807"},
      {F(L"%zu %zd %llx", SIZE_MAX, static_cast<ssize_t>(-2), ULLONG_MAX),
       L"18446744073709551615 -2 ffffffffffffffff"},
      {F(L"%*d|%-*d|%.*f|%*d", 4, 1, 3, 2, 2, 3.14159, -3, 7), L"   1|2  |3.14|7  "},
      {F(L"%.2e %G %p", 12345.678, 1e-10, reinterpret_cast<void*>(0x10)), L"1.23e+04 1E-10 0x10"},
      {F(L"100%% %q %d", 5), L"100% %q 5"},
      {F(L"cut %-5"), L"cut %-5"},
      {F(L"%hs|%5hs", "\xE9", "ab"), L"\xE9|   ab"}};  // 8-bit text in
  for (const auto& [got, want] : rows) EXPECT_EQ(got, want);
  // 8-bit text out, and long arguments whole.
  std::string out = "x";
  core::AppendFormat(out, L"<%s|%hs|%.2hs|%-4hs|%d>", L"\x20AC\xE9", "b\xE9", "abc", "z", -1);
  EXPECT_EQ(out, "x<?\xE9|b\xE9|ab|z   |-1>");
  const std::wstring big(1000000, L'x');
  const std::wstring formatted = AString().Format(L"<%s>", big.c_str());
  ASSERT_EQ(formatted.size(), big.size() + 2);
  EXPECT_EQ(formatted.substr(formatted.size() - 3), L"xx>");
  EXPECT_EQ(F(L"%300d|", 1).size(), 301u);
}

TEST(PathsTest, FoldersAreCanonicalAndOnlyTheLeafTakesTheExtension) {
  for (const auto& [input, expected] :
       {std::pair{L"", L""}, {L"/", L"/"}, {L"C:\\T\\\\t", L"C:/T/t/"}}) {
    AString folder(input);
    CFileUtilities::SetProperDirectoryName(folder);
    EXPECT_EQ(folder, expected) << input;
  }
  // {folder, name, resulting path}
  for (const auto& [folder, name, expected] :
       {std::tuple{L"/opt/app.v2", L"default", L"/opt/app.v2/default.XML"},
        {L"C:\\cfg", L"x.old.bak", L"C:/cfg/x.old.XML"}}) {
    LongFileName file(folder, name);
    file.ChangeExt(L"XML");
    EXPECT_EQ(file.FilePath(), expected) << folder << " + " << name;
  }
}

// Comparing and matching without case fold ASCII letters only. The random
// test below covers the case-sensitive grammar; these rows are about folding.
TEST(WildcardTest, NoCaseFoldsAsciiLettersOnlyAndCaptures) {
  auto sign = [](const char* left, const char* right) {
    const int result = AString(left).CompareNoCase(AString(right));
    return (result > 0) - (result < 0);
  };
  EXPECT_EQ(sign("TempDirectory", "tempdirectory"), 0);
  EXPECT_EQ(sign("abc", "ABD"), -1);
  EXPECT_EQ(sign("abc", "AB"), 1);
  EXPECT_EQ(sign("@", "`"), -1);
  // Each text differs from its pattern in letter case; "a\\" ends in a lone backslash, and
  // É/é are no ASCII letters.
  for (const auto& [pattern, text, matchNoCase] : {std::tuple{L"A?c", L"abC", true},
                                                   {L"*.XML", L"admin.xml", true},
                                                   {L"a\\", L"A\\", true},
                                                   {L"\xC9*", L"\xE9t\xE9", false}}) {
    EXPECT_FALSE(AString(text).Match(pattern)) << pattern;
    EXPECT_EQ(AString(text).MatchNoCase(pattern), matchNoCase) << pattern;
  }
  std::vector<std::wstring_view> captures = {L"stale"};
  EXPECT_TRUE(WildcardCapture(L"Desktop/*/?", L"desktop/Item/7", true, captures));
  EXPECT_EQ(captures, (std::vector<std::wstring_view>{L"Item", L"7"}));
  EXPECT_TRUE(WildcardCapture(L"abc", L"ABC", true, captures));
  EXPECT_TRUE(captures.empty());
}

TEST(WildcardTest, ManyStarsStayPolynomial) {
  const AString text(std::wstring(10000, L'a'));
  const wchar_t* pattern = L"*a*a*a*a*a*a*a*a*b";
  EXPECT_FALSE(text.Match(pattern));
  std::vector<AString> matches;
  EXPECT_FALSE(text.MatchNoCase(pattern, matches, false));
}

// Exhaustive reference: tries every split, each wildcard taking as little as it can.
bool Reference(std::wstring_view p, std::wstring_view t, std::vector<std::wstring_view>& captures) {
  if (p.empty()) return t.empty();
  if (p[0] == L'*') {
    for (size_t k = 0; k <= t.size(); ++k) {
      captures.push_back(t.substr(0, k));
      if (Reference(p.substr(1), t.substr(k), captures)) return true;
      captures.pop_back();
    }
    return false;
  }
  const size_t width = p[0] == L'\\' && p.size() > 1 ? 2 : 1;
  if (t.empty() || (p[0] != L'?' && p[width - 1] != t[0])) return false;
  if (p[0] == L'?') captures.push_back(t.substr(0, 1));
  if (Reference(p.substr(width), t.substr(1), captures)) return true;
  if (p[0] == L'?') captures.pop_back();
  return false;
}

TEST(WildcardTest, AgreesWithExhaustiveSearchOnRandomInputs) {
  std::mt19937 random(20240607);
  auto randomText = [&](size_t maxSize) {
    std::wstring text(random() % (maxSize + 1), L' ');
    for (wchar_t& c : text) c = L"ab*?\\"[random() % 5];
    return text;
  };
  for (int i = 0; i < 3000; ++i) {
    const std::wstring pattern = randomText(7);
    const std::wstring text = randomText(8);
    std::vector<std::wstring_view> expected, captures;
    const bool matches = Reference(pattern, text, expected);
    ASSERT_EQ(WildcardMatch(pattern, text, false), matches) << pattern << " / " << text;
    ASSERT_EQ(WildcardCapture(pattern, text, false, captures), matches) << pattern;
    ASSERT_EQ(captures, expected) << pattern << " / " << text;  // both empty on a mismatch
  }
}

struct RecordingSink : core::OutputSink {
  void Write(const char* data, size_t size) override { writes.emplace_back(data, size); }
  std::vector<std::string> writes;
};

TEST(ConsoleOutputTest, WideAndNarrowPrintsShareOneOrderedSink) {
  RecordingSink sink;
  core::OutputSink* previous = core::SetOutputSink(&sink);
  core::PrintWide(L"Value <%s>\n", L"caf\xC3\xA9");  // UTF-8 widened byte by byte
  core::PrintNarrow("Unsupported value type %s\n", "7");
  core::PrintWide(L"%d%s", 1, L"\x20AC");
  core::PrintNarrow("%s", "");
  EXPECT_EQ(core::SetOutputSink(previous), &sink);
  EXPECT_EQ(sink.writes, (std::vector<std::string>{"Value <caf\xC3\xA9>\n",
                                                   "Unsupported value type 7\n", "1?"}));
}

// A pipe takes what it can without waiting as the run goes; what it cannot
// take waits for the end of the run, so that no write waits for a slow reader
// while the run still reads the store.
TEST(ConsoleOutputTest, APipeGetsWhatItTakesAtOnceAndTheRestAtTheEnd) {
  const std::string line(999, 'x');
  for (bool slowReader : {true, false}) {
    SCOPED_TRACE(slowReader ? "a pipe nearly full" : "an empty pipe");
    int pipeEnds[2];
    ASSERT_EQ(0, ::pipe2(pipeEnds, O_NONBLOCK));
    const int capacity = ::fcntl(pipeEnds[1], F_GETPIPE_SZ);
    const std::string unread(slowReader ? capacity - 1000 : 0, 'u');
    ASSERT_EQ(static_cast<ssize_t>(unread.size()),
              ::write(pipeEnds[1], unread.data(), unread.size()));
    const int savedOut = ::dup(1);
    ASSERT_EQ(1, ::dup2(pipeEnds[1], 1));
    for (int i = 0; i < 200; ++i) core::PrintBytes(line + "\n");
    std::string written(4 << 20, '\0');
    const ssize_t early = std::max<ssize_t>(0, ::read(pipeEnds[0], written.data(), written.size()));
    ASSERT_GE(::fcntl(pipeEnds[1], F_SETPIPE_SZ, 1 << 20), 0);
    core::FlushOutput();
    ::dup2(savedOut, 1);
    ::close(savedOut);
    if (slowReader) {
      EXPECT_EQ(static_cast<ssize_t>(unread.size()), early);
    } else {
      EXPECT_GT(early, 0);
    }
    const ssize_t late = std::max<ssize_t>(0, ::read(pipeEnds[0], written.data(), written.size()));
    EXPECT_EQ(static_cast<ssize_t>(unread.size()) + 200000, early + late);
    ::close(pipeEnds[0]), ::close(pipeEnds[1]);
  }
}

class TalDebugTest : public ::testing::Test {
 protected:
  ~TalDebugTest() override { UseLevel(levelEnv_.previous); }
  void UseLevel(const std::optional<std::string>& level) {
    levelEnv_.Set(level);
    my_tal_debug_data.ReloadFromEnvironment();
  }

  testsupport::TempDir dir_;
  std::string logPath_ = dir_.path + "/debug.log";
  ScopedEnv fileEnv_{"TALVEN_DEBUG_FILE", logPath_};
  ScopedEnv levelEnv_{"TALVEN_DEBUG_LEVEL", std::nullopt};
};

TEST_F(TalDebugTest, LevelIsOneDigitAndGatesLinesAppendedToTheFile) {
  for (const char* text : {"10", " 3", "-1", ""}) {
    UseLevel(text);
    EXPECT_EQ(my_tal_debug_data.Level(), 0) << '"' << text << '"';
  }
  TalDebug(1, L"hidden at level 0\n");
  EXPECT_EQ(ReadFile(logPath_), "");

  WriteFile(logPath_, "earlier\n");
  UseLevel("3");
  for (int level = 0; level <= 5; ++level) TalDebug(level, L"level %d <%s>\n", level, L"\xE9");
  EXPECT_EQ(ReadFile(logPath_), "earlier\nlevel 1 <\xE9>\nlevel 2 <\xE9>\nlevel 3 <\xE9>\n");
  UseLevel("9");
  EXPECT_TRUE(my_tal_debug_data.Debug(9));
}

TEST_F(TalDebugTest, ABufferWritesTheSameLinesInBlocksOfWholeLines) {
  UseLevel("5");
  const std::string first = "one \xE9\ntwo\n", line = std::string(999, 'x') + "\n";
  {
    TalDebugBuffer buffer;
    TalDebug(1, L"one %hs\n", "\xE9");
    TalDebugLines(5, "two\n");
    TalDebugLines(6, "hidden\n");
    EXPECT_EQ(ReadFile(logPath_), "");
    for (int i = 0; i < 100; ++i) TalDebugLines(5, line);
    const size_t written = ReadFile(logPath_).size();
    EXPECT_GT(written, 0u);
    EXPECT_EQ((written - first.size()) % line.size(), 0u);
  }
  std::string all = first;
  for (int i = 0; i < 100; ++i) all += line;
  EXPECT_EQ(ReadFile(logPath_), all);
}

TEST_F(TalDebugTest, AssertionsReportUnlessIgnored) {
  UseLevel("1");
  bool ignoreSite = false;
  ProcessAssertFailure_G("file.cc", 12, "readOnly == true", &ignoreSite);
  ignoreSite = true;
  ProcessAssertFailure_G("file.cc", 13, "site ignored", &ignoreSite);
  IgnoreAllAsserts_G = true;
  ProcessAssertFailure_G("file.cc", 14, "all ignored", nullptr);
  IgnoreAllAsserts_G = false;
  VX_ASSERT(1 + 1 == 3);
  EXPECT_EQ(ReadFile(logPath_).find("Assertion failed: readOnly == true, file file.cc, line 12\n"
                                    "Assertion failed: 1 + 1 == 3, file "),
            0u);
  EXPECT_EQ(ReadFile(logPath_).find("ignored"), std::string::npos);
}

using Registry = RegistryAccessVx;
constexpr auto Write = &Registry::WriteRegistryString;

class TestApplication : public ITalvenApplication {
 public:
  void* GetInterfaceA() override { return nullptr; }
  void NotifyA() override {}
  void* GetInterfaceB() override { return nullptr; }
  AString GetInstallDirectory() const override { return installDirectory; }
  AString GetRegistryFileName() const override { return L"prod"; }

  AString installDirectory;
};

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() {
    application_.installDirectory = AString::FromBytes(dir_.path + "/inst");
    InitVxcoreDLL(&application_);
  }
  ~RegistryTest() override { InitVxcoreDLL(nullptr); }

  // The stored value, or "!" and the default "d" when there is none.
  static std::string Read(int provider, const AString& section, const AString& entry) {
    bool found = false;
    const AString value = Registry::GetRegistryString(found, provider, section, entry, L"d");
    return (found ? "" : "!") + value.ASCII();
  }

  testsupport::TempDir dir_;
  std::string home_ = dir_.path + "/home";
  ScopedEnv homeEnv_{"HOME", home_};
  ScopedEnv configEnv_{"XDG_CONFIG_HOME", std::nullopt};
  TestApplication application_;
};

TEST_F(RegistryTest, PersonalFolderFollowsUserDirs) {
  auto personalDir = [] {
    AString folder;
    return Registry::GetPersonalDirPath(folder) ? folder.ASCII() : "(false)";
  };
  EXPECT_EQ(personalDir(), home_ + "/Documents");
  // The last valid line wins; the lines after it are all invalid.
  WriteFile(home_ + "/.config/user-dirs.dirs",
            "# c\nXDG_DOCUMENTS_DIR=\"$HOME/a\"\n  XDG_DOCUMENTS_DIR = \"/abs/My \\\"Docs\\\"\"\r\n"
            "XDG_DOCUMENTS_DIR=\"relative\"\nXDG_DOCUMENTS_DIRS=\"/x\"\n#XDG_DOCUMENTS_DIR=\"/x\"\n"
            "XDG_DOCUMENTS_DIR=\"$HOMEX/y\"\nXDG_DOCUMENTS_DIR=\"/unterminated\n");
  EXPECT_EQ(personalDir(), "/abs/My \"Docs\"");
  ScopedEnv configHome("XDG_CONFIG_HOME", dir_.path + "/xdg");
  WriteFile(dir_.path + "/xdg/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Elsewhere\"\n");
  EXPECT_EQ(personalDir(), home_ + "/Elsewhere");
  // Without HOME (a service, a cron job) the password database names the home.
  const std::string passwdHome = getpwuid(geteuid())->pw_dir;
  ScopedEnv emptyHome("HOME", "");
  EXPECT_EQ(personalDir(), passwdHome + "/Elsewhere");
  ScopedEnv noHome("HOME", std::nullopt);
  EXPECT_EQ(personalDir(), passwdHome + "/Elsewhere");
}

TEST_F(RegistryTest, ProvidersUseTheDocumentedFiles) {
  const std::string install = dir_.path + "/inst/config/vxcore/prod";
  const std::string user = home_ + "/Documents/Talven/vxcore/prod",
                    machine = "_" + testsupport::HostName();
  const std::string paths[] = {install + ".reg", install + machine + ".reg", user + ".reg",
                               user + machine + ".reg", ""};
  for (int p = 0; p < 5; ++p) EXPECT_EQ(Registry::GetRegistryFilePath(p).ASCII(), paths[p]);
}

TEST_F(RegistryTest, EscapedNamesAndValuesSurviveTheFile) {
  // Names and values full of the file format's own syntax; the folders do not exist yet.
  const std::pair<const char*, const char*> names[] = {
      {"", "TempDirectory"}, {"[odd]=section", "#entry"}, {"multi\nline", "a=b"}, {"s", ""}};
  const char* values[] = {"",   "line1\nline2\r\n", "a=b",          "[section]",
                          "#c", "back\\slash\\",    "\x01\x7F\xFF", " padded "};
  for (const int provider : {0, 3}) {
    for (const auto& [section, entry] : names) {
      for (const char* value : values) {
        ASSERT_TRUE(Write(provider, section, entry, value));
        EXPECT_EQ(Read(provider, section, entry), value) << provider << section << entry;
      }
    }
  }
  EXPECT_EQ(Read(0, "", "TEMPDIRECTORY"), " padded ");
  // No temporary files are left beside the registry files.
  for (const auto& file : std::filesystem::directory_iterator(dir_.path + "/inst/config/vxcore")) {
    EXPECT_EQ(file.path().extension(), ".reg") << file.path();
  }
}

TEST_F(RegistryTest, PrecedenceSearchesUserMachineFirst) {
  // "<provider>:<value>" of a search for entry "e".
  auto search = [](bool emptyMeansAbsent) {
    int provider = -1;
    const AString value =
        Registry::GetRegistryStringUsePrecedence(provider, L"", L"e", L"d", emptyMeansAbsent);
    return std::to_string(provider) + ":" + value.ASCII();
  };
  EXPECT_EQ(search(true), "4:d");
  ASSERT_TRUE(Write(0, "", "e", "install") && Write(1, "", "e", "install_machine"));
  EXPECT_EQ(search(true), "1:install_machine");
  ASSERT_TRUE(Write(2, "", "e", "user") && Write(3, "", "e", ""));
  EXPECT_EQ(search(true), "2:user");
  EXPECT_EQ(search(false), "3:");
}

TEST_F(RegistryTest, WritesWithoutAUsableFileFailAndTouchNothing) {
  const std::string path = Registry::GetRegistryFilePath(0).ASCII();
  // A rewrite would keep one of an entry written twice, in any letter case.
  for (const std::string damaged : {"[s]\r\ngood=1\r\nno separator\nbad=\\q\n",
                                    "[s]\ngood=1\n[t]\nKeep=1\nkeep=2\n"}) {
    WriteFile(path, damaged);
    EXPECT_EQ(Read(0, "S", "GOOD"), "1");
    EXPECT_FALSE(Write(0, "s", "good", "2"));
    EXPECT_EQ(ReadFile(path), damaged);
  }

  application_.installDirectory = L"";  // must not fall back to /config
  EXPECT_FALSE(Write(0, "", "e", "v"));
  application_.installDirectory = AString::FromBytes(dir_.path + "/blocker");
  WriteFile(dir_.path + "/blocker", "a file where a folder should be");
  EXPECT_FALSE(Write(1, "", "e", "v"));
}

}  // namespace
