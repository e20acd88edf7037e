// Whether this machine offers what the sandbox is built from. The sandbox
// fails closed: while it is on and something is missing, nothing runs.
#pragma once

#include <optional>
#include <string>

namespace vorn::sandbox {

/// What the sandbox needs and this machine lacks, in words, several joined
/// by "; " ("Landlock ABI 6 (this kernel offers ABI 3)", "seccomp filters",
/// "user namespaces (Operation not permitted)"); nothing when all is there.
/// Found out once per process. For tests, VORN_SANDBOX_PRETEND_MISSING
/// names features ("landlock", "seccomp", "namespaces", comma-separated)
/// to take as missing: it can only ever take a feature away.
std::optional<std::string> missingFeatures();

/// While the sandbox is on and something is missing: the answer text
/// "sandbox_unavailable: " + missingFeatures(). Nothing otherwise.
std::optional<std::string> refusal();

}  // namespace vorn::sandbox
