#include "agent-runner/sandbox/sandbox_mode.h"

#include <atomic>

namespace vorn::sandbox {
namespace {

std::atomic<bool> sandboxOn{false};

}  // namespace

void enable() { sandboxOn.store(true); }

bool enabled() { return sandboxOn.load(); }

}  // namespace vorn::sandbox
