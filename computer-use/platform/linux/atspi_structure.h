// Which accessible objects observe passes through: the structural containers
// that toolkits nest content in (panels, fillers, sections, scroll panes,
// frames inside frames) when they carry nothing an agent could read or act on.
#pragma once

#include "computer-use/platform/linux/atspi_facts.h"

namespace vorn::platform::atspi {

/// Whether `facts` (basics and value read) describe a container that carries
/// nothing: a structural role (`isStructural`), no name (a GTK 4 class name
/// counts as none when `classNamesAreNames` is false), no description, no
/// text but embedded-object characters (U+FFFC) and white space, no numeric
/// value, not editable. Actions and focusability do not count: browsers give
/// every container generic actions (doDefault, showContextMenu,
/// clickAncestor), GTK 4 its widget action groups ("cal.clear"), and Firefox
/// makes the frame around a page focusable; what they lead to is among the
/// container's children. False when anything needed was not read.
bool carriesNothing(const Facts& facts, bool classNamesAreNames);

/// Whether `text` holds nothing but U+FFFC (the place of an embedded child)
/// and white space.
bool onlyEmbeddedObjects(std::string_view text);

}  // namespace vorn::platform::atspi
