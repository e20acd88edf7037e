// The accessibility core: "observe" reads one window of an application into
// nodes whose references ("@e0", "@e1", ...) stay valid under a
// state identifier; "perform" acts on a referenced element, finding it again
// in the live tree when its state is no longer held.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "common/refusal.h"
#include "computer-use/input/hid.h"
#include "computer-use/platform/platform.h"

namespace AXCore {

using vorn::Failure;
using vorn::OrFailure;
using vorn::platform::AXElement;
using vorn::platform::AXSession;

inline constexpr std::string_view kNotTrusted = "Accessibility is required in the helper process.";

// ---- Requests and what they give ----

/// Values a caller sent that an observation hands back as they came (as
/// their JSON text; nothing when not sent).
struct Echoes {
  std::optional<std::string> bundleId;
  std::optional<std::string> windowNumber;
  std::optional<std::string> nativeKey;

  bool operator==(const Echoes&) const = default;
};

/// What "observe" reads: the application (pid at least 1), the window's
/// title (the first window when none matches), the walk's limits, and the
/// application's name for the root's description.
struct ObserveRequest {
  std::int32_t pid = 0;
  std::string title;
  int maxDepth = 4;
  int maxNodes = 180;
  std::string appName;
  Echoes echoes;
};

/// One element of an observation; nothing for an attribute that could not
/// be read.
struct Node {
  std::string ref;
  std::string role;
  std::optional<std::string> title;
  std::optional<std::string> value;
  std::optional<std::string> description;
  bool enabled = true;
  std::vector<Node> children;
};

/// One window read into references: the root ("@e0") and its tree, in
/// pre-order of the references.
struct Observation {
  std::string stateId;
  std::int32_t pid = 0;
  std::string title;
  Echoes echoes;
  Node root;
};

/// What "perform" reads. `action` and `button` lowercased; a wrong type
/// counts as absent at the edge.
struct PerformRequest {
  std::string action;
  std::string button = "left";
  std::optional<std::string> key;
  /// Any "ref" key, null or empty included, makes it an element request.
  bool hasRef = false;
  std::optional<double> x;
  std::optional<double> y;
  std::string stateId;
  std::string ref;
  std::int32_t pid = 0;
  std::string windowTitle;
  std::string role;
  std::optional<std::string> title;
  std::optional<std::string> value;
  std::optional<std::string> text;
  std::optional<bool> preferBackground;
};

/// What an action did: the input outcome, and whether it went through an
/// element (its answer says "ax_in_helper"); the key and coordinate
/// shortcuts do not.
struct ActionOutcome {
  HID::Outcome outcome;
  bool throughElement = true;
};

// ---- Operations ----

/// Reads one window of application `request.pid` through `ax` (a trusted
/// session) into references held under a new state identifier. Fails with
/// "unknown_root", "Window not found" when the application has no window.
OrFailure<Observation> observe(const ObserveRequest& request, AXSession& ax);

/// The key and coordinate shortcuts, or an action ("press", "click",
/// "focus", "settext", "typetext", "scroll") on the element `request.ref`
/// names under `request.stateId`, found again from the pid, the window
/// title, role, title and value when the state does not hold it. Failures:
/// "invalid_arguments" (no ref; no text to set), "unknown_element",
/// "unsupported". `ax` is a trusted session.
OrFailure<ActionOutcome> perform(const PerformRequest& request, AXSession& ax,
                                 vorn::platform::Platform& platform);

// ---- Readers shared by both operations ----

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

/// Below `element` at `depth`: numbers its children (then theirs, depth-first
/// pre-order, "@e" + the shared `counter`) while `depth` < `maxDepth` and
/// `counter` < `maxNodes`; stores each element in `axMap`; returns the nodes
/// of `element`'s visited children. A child the session passes through
/// (`AXSession::passesThrough`) is replaced by its own children, at the same
/// depth and without a reference.
std::vector<Node> buildTree(AXSession& ax, const AXElement& element, int depth, int maxDepth,
                            int maxNodes, int& counter, AXMap& axMap);

// ---- The state tables ----

/// At most this many observations are held; older ones are evicted first.
inline constexpr std::size_t kMaxStates = 16;

/// What a state keeps besides its elements: the application, the window's
/// title, and the values the request carried to be handed back.
struct StateMeta {
  std::int32_t pid = 0;
  std::string title;
  Echoes echoes;

  bool operator==(const StateMeta&) const = default;
};

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
