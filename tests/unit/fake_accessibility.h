// A scripted accessibility API for unit tests: element trees built in
// memory, and a log of every call the core makes on them.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "computer-use/platform/accessibility.h"

namespace vorn::testing {

using platform::AXElement;
using platform::AXError;
using platform::AXValue;

/// One element: its attributes by name, the answer of each action it knows
/// (others answer "action unsupported"), and the answer to setting each
/// attribute (others answer "attribute unsupported").
struct FakeElement : platform::AXElementObject {
  std::string name;  ///< how the call log names it
  std::map<std::string, AXValue, std::less<>> attributes;
  std::map<std::string, AXError, std::less<>> actions;
  std::map<std::string, AXError, std::less<>> settable;
  bool defunct = false;  ///< every call answers "invalid element"
  /// Setting an attribute answers its code but changes nothing (an
  /// application that reports success for a change it did not make).
  bool setsChangeNothing = false;
  /// Observe passes through it (`AXSession::passesThrough`).
  bool passThrough = false;
};
using FakeNode = std::shared_ptr<FakeElement>;

/// An element named `name` with role `role` and, when given, a title.
inline FakeNode fakeNode(std::string name, std::string role,
                         std::optional<std::string> title = {}) {
  auto node = std::make_shared<FakeElement>();
  node->name = std::move(name);
  node->attributes["AXRole"] = std::move(role);
  if (title) node->attributes["AXTitle"] = std::move(*title);
  return node;
}

inline std::vector<AXElement> elements(const std::vector<FakeNode>& nodes) {
  return {nodes.begin(), nodes.end()};
}

/// Sets `parent`'s "AXChildren" and returns `parent`.
inline FakeNode withChildren(FakeNode parent, const std::vector<FakeNode>& children) {
  parent->attributes["AXChildren"] = elements(children);
  return parent;
}

class FakeAccessibility final : public platform::Accessibility {
 public:
  bool trusted = true;
  /// Applications by pid; any other pid gets an element without attributes.
  std::map<std::int32_t, FakeNode> applications;

  // What happened: "copy <element> <attribute>", "perform <element>
  // <action>", "set <element> <attribute>", "app <pid>", "prefetch <element>
  // <depth> <nodes>", in order, over all sessions.
  std::vector<std::string> calls;
  int sessions = 0;

  std::unique_ptr<platform::AXSession> openSession() override {
    ++sessions;
    return std::make_unique<Session>(*this);
  }

  /// The calls logged that start with `prefix`.
  std::vector<std::string> callsStartingWith(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const auto& c : calls) {
      if (c.starts_with(prefix)) found.push_back(c);
    }
    return found;
  }

 private:
  class Session final : public platform::AXSession {
   public:
    explicit Session(FakeAccessibility& owner) : owner_(owner) {}

    bool isProcessTrusted() override { return owner_.trusted; }

    AXElement createApplication(std::int32_t pid) override {
      owner_.calls.push_back("app " + std::to_string(pid));
      auto it = owner_.applications.find(pid);
      if (it != owner_.applications.end()) return it->second;
      auto none = std::make_shared<FakeElement>();
      none->name = "no-app";
      return none;
    }

    AXError copyAttribute(const AXElement& element, std::string_view attribute,
                          AXValue& value) override {
      const FakeElement& e = fake(element);
      owner_.calls.push_back("copy " + e.name + " " + std::string(attribute));
      if (e.defunct) return platform::kAXErrorInvalidUIElement;
      auto it = e.attributes.find(attribute);
      if (it == e.attributes.end()) return platform::kAXErrorNoValue;
      value = it->second;
      return platform::kAXErrorSuccess;
    }

    AXError performAction(const AXElement& element, std::string_view action) override {
      const FakeElement& e = fake(element);
      owner_.calls.push_back("perform " + e.name + " " + std::string(action));
      if (e.defunct) return platform::kAXErrorInvalidUIElement;
      auto it = e.actions.find(action);
      return it == e.actions.end() ? platform::kAXErrorActionUnsupported : it->second;
    }

    AXError setAttribute(const AXElement& element, std::string_view attribute,
                         const AXValue& value) override {
      auto& e = const_cast<FakeElement&>(fake(element));
      owner_.calls.push_back("set " + e.name + " " + std::string(attribute));
      if (e.defunct) return platform::kAXErrorInvalidUIElement;
      auto it = e.settable.find(attribute);
      if (it == e.settable.end()) return platform::kAXErrorAttributeUnsupported;
      if (it->second == platform::kAXErrorSuccess && !e.setsChangeNothing) {
        e.attributes[std::string(attribute)] = value;
      }
      return it->second;
    }

    bool passesThrough(const AXElement& element) override {
      const FakeElement& e = fake(element);
      owner_.calls.push_back("passes " + e.name);
      return e.passThrough;
    }

    void prefetch(const AXElement& root, int maxDepth, int maxNodes) override {
      owner_.calls.push_back("prefetch " + fake(root).name + " " + std::to_string(maxDepth) + " " +
                             std::to_string(maxNodes));
    }

   private:
    static const FakeElement& fake(const AXElement& element) {
      return static_cast<const FakeElement&>(*element);
    }
    FakeAccessibility& owner_;
  };
};

}  // namespace vorn::testing
