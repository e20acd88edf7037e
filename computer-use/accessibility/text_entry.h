// "settext" and "typetext": the text set so that it is really there. Through
// the accessibility API where the element takes it; where it does not (a
// browser's field offers no EditableText) or where setting changes nothing
// (Firefox answers success and keeps the field as it was), the element is
// focused, its text selected and the text typed. Either way the element's
// text is read back before "worked" is answered.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "computer-use/accessibility/ax_core.h"

namespace AXCore {

/// Sets `element`'s text to `text`: posted (it worked) only when the element
/// then holds `text` (canonically equivalent forms count as equal); else not,
/// with what it holds, or why the text could not be typed. Typing brings application `pid` to the
/// front and types only once the element has the keyboard focus.
HID::Outcome enterText(AXSession& ax, const AXElement& element, std::int32_t pid,
                       const std::string& text, vorn::platform::Platform& platform);

/// How long the element's text is read again until it holds what was asked:
/// after the accessibility API set it, and after it was typed. How long the
/// element may take to report the keyboard focus before typing.
inline constexpr std::chrono::milliseconds kSetSettle{300};
inline constexpr std::chrono::milliseconds kTypeSettle{2000};
inline constexpr std::chrono::milliseconds kFocusWait{1000};

}  // namespace AXCore
