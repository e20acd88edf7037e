// Random identifiers for names that must not collide.
#pragma once

#include <string>

namespace vorn {

/// A fresh random (version 4) UUID in canonical text form: 36 characters,
/// upper-case hexadecimal digits in groups of 8, 4, 4, 4 and 12 joined by "-".
/// Draws from the kernel's random source.
std::string newUuid();

}  // namespace vorn
