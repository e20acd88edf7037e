#include "computer-use/accessibility/text_entry.h"

#include <optional>
#include <thread>

#include "common/text.h"

namespace AXCore {
namespace {

using vorn::platform::AXError;
using vorn::platform::AXValue;
using vorn::platform::kAXErrorSuccess;
using vorn::platform::Platform;
using Clock = std::chrono::steady_clock;

constexpr auto kPoll = std::chrono::milliseconds(20);

std::string codeText(AXError error) { return "(" + std::to_string(error) + ")"; }

// Polls `read` with a new session each time (a session keeps what it read)
// until `done` holds for its answer or `wait` passes; the last answer.
template <class T, class Read, class Done>
T poll(Platform& platform, std::chrono::milliseconds wait, Read read, Done done) {
  const auto deadline = Clock::now() + wait;
  for (;;) {
    auto ax = platform.accessibility.openSession();
    T answer = read(*ax);
    if (done(answer) || Clock::now() >= deadline) return answer;
    std::this_thread::sleep_for(kPoll);
  }
}

bool holds(const std::optional<std::string>& held, const std::string& text) {
  return held && vorn::text::canonicallyEqual(*held, text);
}

std::optional<std::string> settledText(Platform& platform, const AXElement& element,
                                       const std::string& text, std::chrono::milliseconds wait) {
  return poll<std::optional<std::string>>(
      platform, wait, [&](AXSession& ax) { return stringAttr(ax, element, "AXValue"); },
      [&](const std::optional<std::string>& held) { return holds(held, text); });
}

bool takesFocus(Platform& platform, const AXElement& element) {
  return poll<bool>(
      platform, kFocusWait,
      [&](AXSession& ax) {
        AXValue focused;
        return ax.copyAttribute(element, "AXFocused", focused) == kAXErrorSuccess &&
               focused == AXValue(true);
      },
      [](bool focused) { return focused; });
}

std::string heldText(const std::optional<std::string>& held) {
  if (!held) return "Text not set: the element's text cannot be read back";
  return "Text not set: the element holds \"" + *held + "\"";
}

HID::Outcome didnt(const std::string& message) { return {false, message}; }

}  // namespace

HID::Outcome enterText(AXSession& ax, const AXElement& element, std::int32_t pid,
                       const std::string& text, Platform& platform) {
  AXError set = ax.setAttribute(element, "AXValue", AXValue(text));
  std::string setFailure = "AX setValue failed " + codeText(set);
  if (set == kAXErrorSuccess) {
    auto held = settledText(platform, element, text, kSetSettle);
    if (holds(held, text)) return {true, std::nullopt};
    setFailure = heldText(held);
  }
  // Keys go to whatever has the keyboard focus: nothing is typed before the
  // element reports having it.
  if (pid >= 1) platform.applications.activate(pid);
  AXError focus = ax.setAttribute(element, "AXFocused", AXValue(true));
  if (focus != kAXErrorSuccess) {
    return didnt(setFailure + "; typing needs the focus: AX focus failed " + codeText(focus));
  }
  if (!takesFocus(platform, element)) {
    return didnt(setFailure + "; typing needs the focus, which the element did not take");
  }
  // Typed text replaces a selection; where none can be made, the read-back
  // shows what the typing left.
  ax.performAction(element, "AXSelectAllText");
  HID::Outcome typed = text.empty() ? HID::postKeypress("backspace", platform.input)
                                    : HID::typeText(text, platform.input);
  if (!typed.posted) return didnt(setFailure + "; " + typed.message.value_or("typing failed"));
  auto held = settledText(platform, element, text, kTypeSettle);
  if (holds(held, text)) return {true, std::nullopt};
  return didnt(heldText(held) + " after typing");
}

}  // namespace AXCore
