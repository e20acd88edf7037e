// Other applications' user interfaces as accessibility elements: the calls
// the accessibility core is written against. They are shaped like the
// macOS accessibility API the wire format comes from (an attribute copied by
// its "AX..." name, a named action performed, an attribute set, each answering
// 0 or a negative error code), so the core reads like its description; a
// backend translates names, roles and values to its own toolkit.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vorn::platform {

/// Accessibility error codes, with the values of the API they come from.
enum AXError : std::int32_t {
  kAXErrorSuccess = 0,
  kAXErrorFailure = -25200,
  kAXErrorIllegalArgument = -25201,
  kAXErrorInvalidUIElement = -25202,
  kAXErrorCannotComplete = -25204,
  kAXErrorAttributeUnsupported = -25205,
  kAXErrorActionUnsupported = -25206,
  kAXErrorNoValue = -25212,
  kAXErrorAPIDisabled = -25211,
};

/// One user-interface object of another application. Backends derive their
/// own kind; the core only holds, copies and passes them back. Immutable, so
/// any thread may hold one; the state tables keep them alive.
class AXElementObject {
 public:
  virtual ~AXElementObject() = default;
};
using AXElement = std::shared_ptr<const AXElementObject>;

struct AXPoint {
  double x = 0;
  double y = 0;
  bool operator==(const AXPoint&) const = default;
};

struct AXSize {
  double width = 0;
  double height = 0;
  bool operator==(const AXSize&) const = default;
};

/// An attribute's value: a text, a number, a boolean, a list of elements, a
/// point or a size.
using AXValue = std::variant<std::string, double, bool, std::vector<AXElement>, AXPoint, AXSize>;

/// The calls of one request. A session is used by one thread at a time and is
/// dropped when the request ends; it may remember what it read for that long
/// (an application that changes meanwhile is seen as it was). Every call is
/// bounded in time: an application that stops answering makes the call fail
/// with `kAXErrorCannotComplete`, never hang.
class AXSession {
 public:
  virtual ~AXSession() = default;

  /// Whether this process may use the accessibility API at all (the platform
  /// answers accessibility requests).
  virtual bool isProcessTrusted() = 0;

  /// The application element of process `pid`. Never null: a pid that runs
  /// no accessible application gives an element without windows or children.
  virtual AXElement createApplication(std::int32_t pid) = 0;

  /// Reads `attribute` ("AXRole", "AXChildren", ...) of `element` into
  /// `value`. Returns 0, or a negative code with `value` untouched.
  virtual AXError copyAttribute(const AXElement& element, std::string_view attribute,
                                AXValue& value) = 0;

  /// Performs `action` ("AXPress", "AXScrollDownByPage", ...) on `element`.
  /// Besides the described platform's actions: "AXSelectAllText" selects the
  /// whole text of an element that has one (nothing to select is success).
  virtual AXError performAction(const AXElement& element, std::string_view action) = 0;

  /// Sets `attribute` ("AXValue", "AXFocused") of `element` to `value`.
  virtual AXError setAttribute(const AXElement& element, std::string_view attribute,
                               const AXValue& value) = 0;

  /// Whether observe passes through `element`: a structural container that
  /// carries nothing for an agent (toolkits nest content in unnamed panels,
  /// fillers and sections that the described platform's tree does not have).
  /// Its children take its place; it takes no reference and no depth level.
  /// False unless the backend knows better.
  virtual bool passesThrough(const AXElement& element) {
    (void)element;
    return false;
  }

  /// A hint that the subtree of `root` is about to be read: at least the
  /// elements a depth-first pre-order walk of at most `maxNodes` elements in
  /// `maxDepth` levels below `root` meets, passing through what
  /// `passesThrough` says within the bounds below. A backend may fetch them in bulk
  /// so that the reads that follow cost nothing; the answers are the same
  /// either way.
  virtual void prefetch(const AXElement& root, int maxDepth, int maxNodes) {
    (void)root, (void)maxDepth, (void)maxNodes;
  }
};

/// How far observe passes through: at most this many containers in a row
/// on one path, and at most `passThroughBudget(maxNodes)` in one walk (a
/// container beyond either is an element like any other), so that a tree of
/// nothing but containers is still read in bounded time.
inline constexpr int kPassThroughNesting = 32;
inline int passThroughBudget(int maxNodes) { return (maxNodes > 0 ? maxNodes : 0) + 256; }

class Accessibility {
 public:
  virtual ~Accessibility() = default;
  /// A session for one request. Never null; when the platform's accessibility
  /// service cannot be reached, `isProcessTrusted()` of the session is false.
  virtual std::unique_ptr<AXSession> openSession() = 0;
};

}  // namespace vorn::platform
