// Shared by the suites that run the real binary: their common headers, the
// documents of -Json runs, and the check that a run wrote nothing.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/installation.h"

// They join the installation's helpers in its namespace.
namespace testsupport {

using Json = nlohmann::json;

// Standard output must be one JSON document and one line break; standard error empty.
inline Json Parse(const RunResult& run) {
  EXPECT_EQ("", run.err);
  EXPECT_EQ(run.out.size() - 1, run.out.find('\n')) << run.out;
  Json document = Json::parse(run.out, nullptr, /*allow_exceptions=*/false);
  EXPECT_FALSE(document.is_discarded()) << run.out;
  return document;
}

struct JsonRun {
  Json doc;
  int status;
};
inline JsonRun RunJson(const Installation& in, Args args, const std::string& input = "") {
  args.push_back("-Json");
  auto run = in.Run(args, input);
  return {Parse(run), run.status};
}

// The store files and their stamps, to show that a run wrote nothing.
struct Unwritten {
  const Installation& in;
  std::map<std::string, std::string> files = in.Snapshot();
  void Check(const std::string& what) const {
    EXPECT_TRUE(files == in.Snapshot()) << what << " changed or rewrote a file";
  }
};

inline void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

}  // namespace testsupport
