#include "agent-runner/process/run_control.h"

namespace VornAgentRunnerMain {
namespace {

// Operations run each call on one thread from start to answer, so the
// thread is the call.
thread_local const RunControl* current = nullptr;

}  // namespace

RunControlScope::RunControlScope(const RunControl& control) : previous_(current) {
  current = &control;
}

RunControlScope::~RunControlScope() { current = previous_; }

const RunControl* currentRunControl() { return current; }

}  // namespace VornAgentRunnerMain
