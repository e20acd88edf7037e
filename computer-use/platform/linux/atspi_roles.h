// AT-SPI's roles, states and interfaces, and how they read as the
// accessibility core's "AX..." roles. Pure tables: no bus involved.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vorn::platform::atspi {

/// AT-SPI's name of a role number (AtspiRole) in capitals, as the
/// enumeration spells it ("PUSH_BUTTON"); empty beyond the table.
std::string_view roleName(std::uint32_t role);

/// AT-SPI state numbers (AtspiStateType), bit positions in a state set.
enum State : std::uint32_t {
  kStateActive = 1,
  kStateChecked = 4,
  kStateDefunct = 6,
  kStateEditable = 7,
  kStateEnabled = 8,
  kStateFocusable = 11,
  kStateFocused = 12,
  kStateMultiLine = 17,
  kStateSensitive = 24,
  kStateShowing = 25,
  kStateManagesDescendants = 31,
};

/// A state set as the 64 bits of AT-SPI's two 32-bit words.
using StateSet = std::uint64_t;
inline bool has(StateSet states, State state) { return (states >> state) & 1u; }

/// The interfaces an object implements, as bits.
enum Interface : std::uint32_t {
  kInterfaceAction = 1u << 0,
  kInterfaceComponent = 1u << 1,
  kInterfaceEditableText = 1u << 2,
  kInterfaceText = 1u << 3,
  kInterfaceValue = 1u << 4,
};

/// The bit of a D-Bus interface name ("org.a11y.atspi.Text"); 0 for others.
std::uint32_t interfaceBit(std::string_view dbusName);

/// The core's role name for an AT-SPI role: the fixed names ("AXButton",
/// "AXWindow", ...; text roles read "AXTextArea" when `multiLine`), else "AX"
/// and the AT-SPI role name in CamelCase ("AXDrawingArea"); "AXUnknown" for a
/// number beyond the table.
std::string axRole(std::uint32_t role, bool multiLine);

/// Frames, windows, dialogs, alerts and the file, colour and font choosers.
bool isWindowLike(std::uint32_t role);

/// Check boxes, radio and toggle buttons (and their menu items): their value
/// is 1 or 0.
bool isCheckable(std::uint32_t role);

/// The containers toolkits nest content in: panels, fillers, sections,
/// groupings, forms, redundant and unknown objects, and the panes and frames
/// that hold a view (scroll, split, layered, root, glass and option panes,
/// viewports, internal frames, HTML containers). Whether one is passed
/// through depends on what it carries (atspi_structure.h).
bool isStructural(std::uint32_t role);

/// Scroll panes, lists, tables, trees, documents and multi-line text: what
/// the page-scroll actions apply to.
bool isScrollable(std::uint32_t role, bool multiLine);

}  // namespace vorn::platform::atspi
