// One request's view of AT-SPI: what it has read so far, by object, and the
// calls that read more, a whole set of objects per round trip.
#pragma once

#include <optional>
#include <unordered_map>
#include <vector>

#include "computer-use/platform/linux/atspi_accessibility.h"
#include "computer-use/platform/linux/atspi_facts.h"
#include "computer-use/platform/linux/atspi_roles.h"

namespace vorn::platform::atspi {

/// An element: an object on the accessibility bus. Nothing else is kept in
/// it, so an element held between requests always reads the live object.
class Element final : public AXElementObject {
 public:
  explicit Element(ObjectRef ref) : ref(std::move(ref)) {}
  const ObjectRef ref;  ///< empty for an application that does not exist
};

class AtspiSession final : public AXSession {
 public:
  AtspiSession(AtspiAccessibility& owner, Clock::time_point deadline);
  ~AtspiSession() override;

  bool isProcessTrusted() override;
  AXElement createApplication(std::int32_t pid) override;
  AXError copyAttribute(const AXElement& element, std::string_view attribute,
                        AXValue& value) override;
  AXError performAction(const AXElement& element, std::string_view action) override;
  AXError setAttribute(const AXElement& element, std::string_view attribute,
                       const AXValue& value) override;
  /// Structural containers that carry nothing (atspi_structure.h).
  bool passesThrough(const AXElement& element) override;
  /// Reads the subtree level by level, each level in one round trip, until
  /// it has what the walk will read.
  void prefetch(const AXElement& root, int maxDepth, int maxNodes) override;

 private:
  struct Plan {
    std::vector<ObjectRef> basics, children, values, parents;
    bool empty() const {
      return basics.empty() && children.empty() && values.empty() && parents.empty();
    }
  };
  /// Where the walk stands while it is planned.
  struct Planning {
    int maxDepth;
    int maxNodes;
    int counter = 0;
    int passBudget;
    Plan plan;
  };
  /// Reads every group `plan` names in one batch.
  void fetch(const Plan& plan);
  void planWalk(const ObjectRef& node, int depth, int nesting, Planning& planning);
  /// From what was read: whether `ref` passes through (false while unknown).
  bool passes(const ObjectRef& ref);
  /// Whether the application's toolkit answers Properties.GetAll safely.
  bool batchesProperties(const std::string& busName);
  bool isGtk4(const std::string& busName);
  ObjectRef applicationRoot(const std::string& busName);
  Facts& basics(const ObjectRef& ref);
  /// The basics of an object still there to act on: its read error, else
  /// "invalid element" when the application let go of it, else success.
  AXError liveBasics(const ObjectRef& ref, Facts*& facts);
  Facts& children(const ObjectRef& ref);
  Facts& value(const ObjectRef& ref);
  std::vector<AXElement> windowsOf(const ObjectRef& app);
  AXError childrenValue(const ObjectRef& ref, AXValue& value);
  AXError extents(const ObjectRef& ref, std::int32_t (&box)[4]);
  /// `extents` moved to the screen (see `ElementOrigins`).
  AXError screenExtents(const ObjectRef& ref, std::int32_t (&box)[4]);
  /// What to add to `ref`'s extents to have them on the screen; nothing to
  /// add without origins.
  AXError screenOffset(const ObjectRef& ref, ScreenOffset& offset);
  /// The process behind a unique name on the accessibility bus.
  std::optional<std::int32_t> pidOf(const std::string& busName);
  AXError press(const ObjectRef& ref);
  AXError scrollByPage(const ObjectRef& ref, bool down);
  AXError setValue(const ObjectRef& ref, const AXValue& value);
  AXError grabFocus(const ObjectRef& ref);
  AXError selectAllText(const ObjectRef& ref);
  bool expired() const { return Clock::now() >= deadline_; }
  /// The connection that reaches `busName`'s objects: the application's own
  /// when it offers one, else the accessibility bus.
  BusConnection& connectionFor(const std::string& busName);
  /// Also learns the application's toolkit name, once per application.
  std::unique_ptr<BusConnection> openPeer(const std::string& busName);

  AtspiAccessibility& owner_;
  Clock::time_point deadline_;
  std::unique_ptr<BusConnection> bus_;
  std::unordered_map<std::string, std::unique_ptr<BusConnection>> peers_;
  std::optional<bool> trusted_;
  std::vector<ObjectRef> applications_;
  std::unordered_map<ObjectRef, Facts, ObjectRefHash> facts_;
};

/// The error a failed call of `batch` stands for: no answer in time is
/// "cannot complete"; an object or application that is gone, an "invalid
/// element"; anything else a plain failure.
AXError errorOf(const CallBatch& batch, std::size_t index);

}  // namespace vorn::platform::atspi
