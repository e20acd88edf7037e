// What one request has read about one accessible object. Pure data, so the
// rules that judge an object (atspi_structure.h) can be tested without a bus.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "computer-use/platform/accessibility.h"
#include "computer-use/platform/linux/atspi_bus.h"
#include "computer-use/platform/linux/atspi_roles.h"

namespace vorn::platform::atspi {

/// Each group is read at most once per session; a failed read keeps its
/// error.
struct Facts {
  // Role, states, interfaces, name and description, read together.
  bool basicsRead = false;
  AXError basicsError = kAXErrorSuccess;
  std::uint32_t role = 0;
  StateSet states = 0;
  std::uint32_t interfaces = 0;
  std::string name;
  std::string description;

  /// The parent, read with the basics where the toolkit answers them in one
  /// call, else only before an action. No parent: the object is no longer
  /// part of any window (GTK keeps the accessible of a destroyed widget, with
  /// no states and a null parent).
  bool parentRead = false;
  bool orphan = false;
  ObjectRef parent;

  bool childrenRead = false;
  AXError childrenError = kAXErrorSuccess;
  std::vector<ObjectRef> children;

  bool valueRead = false;
  AXError valueError = kAXErrorNoValue;
  std::optional<AXValue> value;
};

}  // namespace vorn::platform::atspi
