// The pure text rules of the git layer: name validation, the diff reader and
// the repository-relative path.
#include <gtest/gtest.h>

#include <string>

#include "agent-runner/git/diff_paths.h"
#include "agent-runner/git/git_rules.h"
#include "agent-runner/git/ref_names.h"

namespace {

using namespace VornAgentRunnerMain;
using Strings = std::vector<std::string>;

std::string letters(std::size_t n) { return std::string(n, 'a'); }

TEST(ValidateBranchName, AcceptsGitLikeNamesTrimmed) {
  for (const char* name : {"feature/login-2", "release+1", "user@host", "ends/", "x.lock",
                           "\u00e9t\u00e9/\u0436\u0443\u043a", "e\u0301", "\u0663\u0664"}) {
    EXPECT_EQ(validateBranchName(name), name) << name;
  }
  EXPECT_EQ(validateBranchName(" \t main\n"), "main");
  EXPECT_EQ(validateBranchName(letters(255)), letters(255));
  // Combining marks join the letter before them: 255 characters, 510 scalars.
  std::string combined;
  for (int i = 0; i < 255; ++i) combined += "e\u0301";
  EXPECT_EQ(validateBranchName(combined), combined);
}

TEST(ValidateBranchName, Refusals) {
  for (std::string name : {"", "  ", "-x", ".hidden", "a..b", "a//b", "a\\b", "a b", "a:b", "a~1",
                           "a^", "a?", "a*", "a[b", "tab\there", "emoji\U0001F600"}) {
    EXPECT_EQ(validateBranchName(name), std::nullopt) << name;
  }
  EXPECT_EQ(validateBranchName(std::string("a\0b", 3)), std::nullopt);
  EXPECT_EQ(validateBranchName(letters(256)), std::nullopt);
  EXPECT_EQ(validateBranchName("\xff"), std::nullopt);
}

TEST(ValidateRemoteName, AcceptsAndRefuses) {
  for (const char* name : {"origin", "up-stream", "my.remote_2", "d\u00e9p\u00f4t"}) {
    EXPECT_EQ(validateRemoteName(name), name) << name;
  }
  EXPECT_EQ(validateRemoteName("  origin \n"), "origin");
  EXPECT_EQ(validateRemoteName(letters(1000)), letters(1000));
  for (const char* name : {"", "-o", "a/b", "a..b", "a b", "a\\b", "a+b", "a@b"}) {
    EXPECT_EQ(validateRemoteName(name), std::nullopt) << name;
  }
}

TEST(CollectAffectedPaths, ReadsNewSidesAndDeletedOldSides) {
  std::string diff =
      "diff --git a/z.txt b/z.txt\n--- a/z.txt\n+++ b/z.txt\n@@ -1 +1 @@\n-a\n+b\n"
      "@@ -5 +5 @@\n-c\n+d\n"
      "--- a/gone.txt\n+++ /dev/null\n"
      "--- a/old-name\n+++ b/src/new name.c\n"
      "+++ plain/path.c\r\n"
      "+++ b/../outside.txt\n"
      "+++ b/z.txt\n";
  EXPECT_EQ(collectAffectedPaths(diff),
            (Strings{"../outside.txt", "gone.txt", "plain/path.c", "src/new name.c", "z.txt"}));
  EXPECT_EQ(collectAffectedPaths("--- a/x\n+++ /dev/null\n"), Strings{"x"});
  EXPECT_EQ(collectAffectedPaths("+++ b/last"), Strings{"last"});
}

TEST(CollectAffectedPaths, QuotedNamesAreReadAsGitReadsThem) {
  EXPECT_EQ(unquoteDiffPath("\"b/sp\\tace\\303\\251\""), "sp\tace\u00e9");
  EXPECT_EQ(unquoteDiffPath("\"b/\\056\\056/x\"\t2024-01-01"), "../x");
  EXPECT_EQ(unquoteDiffPath("plain"), std::nullopt);
  EXPECT_EQ(unquoteDiffPath("\"unterminated"), std::nullopt);
  EXPECT_EQ(unquoteDiffPath("\"bad\\9\""), std::nullopt);
}

TEST(SkippedPatchNames, ReadsGitsVerboseCheck) {
  EXPECT_EQ(skippedPatchNames("Skipped patch 'top.txt'.\nChecking patch sub/a...\n"
                              "Skipped patch 'docs/b.md'.\n"),
            (Strings{"top.txt", "docs/b.md"}));
  EXPECT_EQ(skippedPatchNames("Checking patch a...\nApplied patch a cleanly.\n"), Strings{});
}

TEST(RepositoryRelativePath, StripsTheRootOnly) {
  EXPECT_EQ(repositoryRelativePath("/w/a/b", "/w"), "a/b");
  EXPECT_EQ(repositoryRelativePath("/w", "/w"), ".");
  EXPECT_EQ(repositoryRelativePath("/etc/x", "/"), "etc/x");
  EXPECT_EQ(repositoryRelativePath("/w2/x", "/w"), "/w2/x");
}

TEST(TimeLimits, RaiseToTheMinimum) {
  vorn::RunnerRequest r{.op = "git_status"};
  EXPECT_EQ(standardGitTimeout(r), 30);
  r.timeout = 2;
  EXPECT_EQ(standardGitTimeout(r), 5);
  r.timeout = 120;
  EXPECT_EQ(standardGitTimeout(r), 120);
  EXPECT_EQ(timeLimit(10.0, 60, 15), 15);
  EXPECT_EQ(timeLimit(std::nullopt, 60, 15), 60);
}

}  // namespace
