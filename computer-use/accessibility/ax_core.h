// The accessibility core: "observe" reads one window of an application into
// node dictionaries whose references ("@e0", "@e1", ...) stay valid under a
// state identifier; "perform" acts on a referenced element, finding it again
// in the live tree when its state is no longer held.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "computer-use/input/hid.h"
#include "computer-use/platform/platform.h"

namespace AXCore {

using Dictionary = nlohmann::json;
using vorn::platform::AXElement;
using vorn::platform::AXSession;

// ---- Operations ----

/// The "observe" operation on a whole request dictionary: "pid" (required,
/// at least 1), "title", "max_depth" (default 4), "max_nodes" (default 180),
/// "app_name", and "bundle_id", "window_number", "native_key" echoed back.
/// Success has exactly ten keys; failures ("invalid_arguments",
/// "permission_required", "unknown_root") have "ok", "error" and "message".
/// Never throws.
Dictionary observe(const Dictionary& request, vorn::platform::Platform& platform);

/// The "perform" operation on a whole request dictionary: the key and
/// coordinate shortcuts, or an action ("press", "click", "focus", "settext",
/// "typetext", "scroll") on the element "ref" names under "state_id", found
/// again from "pid", "window_title", "role", "title" and "value" when the
/// state does not hold it. Never throws.
Dictionary perform(const Dictionary& request, vorn::platform::Platform& platform);

/// The four-key element action result of a (success, message) pair: "ok",
/// "outcome" ("worked" or "didnt"), "message" (or null), "ax_in_helper" true.
Dictionary result(const HID::Outcome& outcome);

// ---- Readers shared by both operations ----

/// `value` as a 32-bit signed integer: a number truncated toward zero (a
/// boolean counts as 1 or 0); anything else, no value, a number that is not
/// finite or lies outside the 32-bit range gives 0.
std::int32_t int32(const Dictionary* value);

/// `attribute` of `element` as text: a string unchanged, a number in decimal
/// ("3", "0.5"), a boolean as "1" or "0"; nothing for any other value or a
/// failed read.
std::optional<std::string> stringAttr(AXSession& ax, const AXElement& element,
                                      std::string_view attribute);

/// `attribute` of `element` as a list of elements; empty on a failed read or a
/// value of another kind.
std::vector<AXElement> copyElements(AXSession& ax, const AXElement& element,
                                    std::string_view attribute);

/// The first of `app`'s "AXWindows" whose "AXTitle" is canonically equal to a
/// non-empty `title`; else the first of "AXWindows"; null when there is none.
AXElement findWindow(AXSession& ax, const AXElement& app, std::string_view title);

/// The first of `app`'s "AXWindows"; else the first of its "AXChildren" whose
/// "AXRole" is "AXWindow"; else null.
AXElement firstWindow(AXSession& ax, const AXElement& app);

/// Searched depth-first in pre-order from `root` itself: the first element
/// whose role equals `role` (any when empty), whose title equals `title` and
/// whose value equals `value` (each ignored when absent), comparing under
/// canonical equivalence. Null when none matches among the first
/// `kFindMatchingBudget` elements within `kFindMatchingDepth` levels, which
/// also ends the search of a cyclic or endless tree.
AXElement findMatching(AXSession& ax, const AXElement& root, std::string_view role,
                       const std::optional<std::string>& title,
                       const std::optional<std::string>& value);

inline constexpr int kFindMatchingBudget = 5000;
inline constexpr int kFindMatchingDepth = 64;

// ---- The tree walk ----

/// Reference to element, one table per observation.
using AXMap = std::unordered_map<std::string, AXElement>;
/// Node dictionaries by reference number: "elements" lists them in order.
using NodesByRef = std::map<int, Dictionary>;

/// Below `element` at `depth`: numbers its children (then theirs, depth-first
/// pre-order, "@e" + the shared `counter`) while `depth` < `maxDepth` and
/// `counter` < `maxNodes`; stores each node dictionary in `byRef` and each
/// element in `axMap`; returns the dictionaries of `element`'s visited
/// children, each with seven keys. A child the session passes through
/// (`AXSession::passesThrough`) is replaced by its own children, at the same
/// depth and without a reference.
std::vector<Dictionary> buildTree(AXSession& ax, const AXElement& element, int depth, int maxDepth,
                                  int maxNodes, int& counter, NodesByRef& byRef, AXMap& axMap);

// ---- The state tables ----

/// At most this many observations are held; older ones are evicted first.
inline constexpr std::size_t kMaxStates = 16;

/// What a state keeps besides its elements: "pid", "title", and the
/// "bundle_id", "window_number" and "native_key" the request carried.
using StateMeta = Dictionary;

/// The process-wide tables, created empty on first use. `lock` guards the
/// rest; it is held only while they are read or written, never during an
/// accessibility call.
struct StateTables {
  std::mutex lock;
  std::unordered_map<std::string, AXMap> maps;
  std::unordered_map<std::string, StateMeta> meta;
  /// State identifiers, oldest first: eviction takes from the front, so the
  /// state just stored is never the one evicted.
  std::vector<std::string> age;
};
StateTables& tables();

/// Stores a state under `stateId` (replacing one of that identifier, which
/// then counts as the newest) and evicts the oldest beyond `kMaxStates`.
void storeState(const std::string& stateId, AXMap axMap, StateMeta meta);

/// "S-" and eight uppercase hexadecimal digits of a fresh random UUID.
std::string newStateId();

}  // namespace AXCore
