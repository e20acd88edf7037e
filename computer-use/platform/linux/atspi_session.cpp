// Reads go through `Facts`: the first read of an object fetches its role,
// states, interfaces, name and description together (four calls in one round
// trip), and `prefetch` fetches a whole tree level per round trip. Every
// batch runs against the session's one deadline, so an application that
// stops answering costs a request at most `kRequestBound` in all.
#include "computer-use/platform/linux/atspi_session.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

#include "common/text.h"
#include "computer-use/platform/linux/atspi_structure.h"
#include "computer-use/platform/linux/atspi_toolkits.h"

namespace vorn::platform::atspi {
namespace {

constexpr const char* kAccessible = "org.a11y.atspi.Accessible";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kApplication = "org.a11y.atspi.Application";
const ObjectRef kRegistryRoot{"org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root"};
const ObjectRef kBusDaemon{"org.freedesktop.DBus", "/org/freedesktop/DBus"};
constexpr std::string_view kNullPath = "/org/a11y/atspi/null";
const std::string kApplicationRoot = "/org/a11y/atspi/accessible/root";

// Wheel steps for one page: GTK and Qt scroll a few dozen pixels per step.
constexpr std::int32_t kWheelStepsPerPage = 5;

// The action AXPress stands for: the first of the object's actions with one
// of these names, else its first action.
constexpr std::string_view kPressNames[] = {"click", "press", "activate", "toggle", "jump"};

bool endsWith(std::string_view s, std::string_view suffix) { return s.ends_with(suffix); }

// An object the application has let go of: marked defunct, or cut off from
// every window. Acting on it would report success for nothing (GTK still
// "clicks" the button of a destroyed dialog).
bool gone(const Facts& f) { return has(f.states, kStateDefunct) || f.orphan; }

const Element* elementOf(const AXElement& element) {
  return dynamic_cast<const Element*>(element.get());
}

std::optional<double> numberOf(const AXValue& value) {
  if (auto* d = std::get_if<double>(&value)) return *d;
  if (auto* b = std::get_if<bool>(&value)) return *b ? 1.0 : 0.0;
  if (auto* s = std::get_if<std::string>(&value)) {
    std::string_view text = text::trim(*s);
    double d = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), d);
    if (error == std::errc() && end == text.data() + text.size() && !text.empty()) return d;
  }
  return std::nullopt;
}

// Properties.GetAll of org.a11y.atspi.Accessible: the name, the description,
// the parent and, when it says there are none, the children.
bool readAll(ReplyReader& reply, Facts& f) {
  return reply.properties(
      [&](const char* key, const char* value) {
        if (std::string_view(key) == "Name") f.name = text::toValidUtf8(value);
        if (std::string_view(key) == "Description") f.description = text::toValidUtf8(value);
      },
      [&](const char* key, const ObjectRef& parent) {
        if (std::string_view(key) != "Parent") return;
        f.parentRead = true;
        f.orphan = parent.path == kNullPath;
        f.parent = parent;
      },
      [&](const char* key, std::int32_t count) {
        // A leaf's children need no call of their own.
        if (std::string_view(key) != "ChildCount" || count != 0 || f.childrenRead) return;
        f.childrenRead = true;
        f.childrenError = kAXErrorSuccess;
        f.children.clear();
      });
}

// A call that answers one boolean: true is success, false a plain failure.
AXError booleanAnswer(const CallBatch& batch, std::size_t index) {
  if (AXError e = errorOf(batch, index)) return e;
  bool done = false;
  return batch.reply(index)->boolean(done) && done ? kAXErrorSuccess : kAXErrorFailure;
}

}  // namespace

AXError errorOf(const CallBatch& batch, std::size_t index) {
  if (batch.answered(index)) return kAXErrorSuccess;
  std::string_view name = batch.errorName(index);
  if (name.empty() || endsWith(name, ".NoReply") || endsWith(name, ".Timeout") ||
      endsWith(name, ".TimedOut")) {
    return kAXErrorCannotComplete;
  }
  // atk-bridge answers UnknownMethod for an object it no longer has; the bus
  // answers ServiceUnknown or NameHasNoOwner for an application that is gone.
  for (std::string_view gone : {".UnknownObject", ".UnknownMethod", ".UnknownInterface",
                                ".ServiceUnknown", ".NameHasNoOwner"}) {
    if (endsWith(name, gone)) return kAXErrorInvalidUIElement;
  }
  return kAXErrorFailure;
}

AtspiSession::AtspiSession(AtspiAccessibility& owner, Clock::time_point deadline)
    : owner_(owner), deadline_(deadline), bus_(owner.connect(deadline)) {}

AtspiSession::~AtspiSession() {
  if (bus_) owner_.giveBack(std::move(bus_));
}

bool AtspiSession::isProcessTrusted() {
  if (trusted_) return *trusted_;
  trusted_ = false;
  if (!bus_) return false;
  CallBatch batch(*bus_);
  auto call = batch.add(kRegistryRoot, kAccessible, "GetChildren");
  batch.run(deadline_);
  auto reply = batch.reply(call);
  trusted_ = reply && reply->objectRefs(applications_);
  return *trusted_;
}

std::optional<std::int32_t> AtspiSession::pidOf(const std::string& busName) {
  if (auto known = owner_.knownPid(busName)) return known;
  if (!bus_ || expired()) return std::nullopt;
  CallBatch batch(*bus_);
  auto call = batch.add(kBusDaemon, "org.freedesktop.DBus", "GetConnectionUnixProcessID", "s",
                        busName.c_str());
  batch.run(deadline_);
  std::uint32_t answer = 0;
  auto reply = batch.reply(call);
  if (!reply || !reply->uint32(answer)) return std::nullopt;
  owner_.rememberPid(busName, static_cast<std::int32_t>(answer));
  return static_cast<std::int32_t>(answer);
}

AXElement AtspiSession::createApplication(std::int32_t pid) {
  auto none = std::make_shared<Element>(ObjectRef{});
  if (!isProcessTrusted()) return none;
  CallBatch batch(*bus_);
  std::vector<std::pair<std::string, std::size_t>> asked;
  for (const auto& app : applications_) {
    if (owner_.knownPid(app.bus)) continue;
    asked.emplace_back(app.bus, batch.add(kBusDaemon, "org.freedesktop.DBus",
                                          "GetConnectionUnixProcessID", "s", app.bus.c_str()));
  }
  if (!asked.empty() && !expired()) batch.run(deadline_);
  for (const auto& [bus, call] : asked) {
    std::uint32_t answer = 0;
    if (auto reply = batch.reply(call); reply && reply->uint32(answer)) {
      owner_.rememberPid(bus, static_cast<std::int32_t>(answer));
    }
  }
  for (const auto& app : applications_) {
    if (owner_.knownPid(app.bus) == pid) return std::make_shared<Element>(app);
  }
  return none;
}

// ---- Fetching ----

// An application that offers a connection of its own is asked directly: no
// bus daemon in between halves the cost of every call.
std::unique_ptr<BusConnection> AtspiSession::openPeer(const std::string& busName) {
  if (!bus_ || expired()) return nullptr;
  std::string address;
  {
    CallBatch batch(*bus_);
    const ObjectRef root = applicationRoot(busName);
    auto call = batch.add(root, kApplication, "GetApplicationBusAddress");
    std::optional<std::size_t> name, version;
    if (!owner_.knownToolkit(busName)) {
      name = batch.add(root, kProperties, "Get", "ss", kApplication, "ToolkitName");
      version = batch.add(root, kProperties, "Get", "ss", kApplication, "Version");
    }
    batch.run(deadline_);
    Toolkit toolkit;
    if (auto reply = name ? batch.reply(*name) : nullptr;
        reply && reply->stringVariant(toolkit.name)) {
      if (auto v = batch.reply(*version)) v->stringVariant(toolkit.version);
      owner_.rememberToolkit(busName, std::move(toolkit));
    }
    auto reply = batch.reply(call);
    if (!reply || !reply->string(address) || address.empty()) return nullptr;
  }
  auto peer = BusConnection::open(bus_->library(), address, false);
  if (!peer) return nullptr;
  // A peer that does not complete its handshake and answer is not used.
  CallBatch probe(*peer);
  auto call = probe.add(applicationRoot(busName), kAccessible, "GetRole");
  probe.run(deadline_);
  return probe.answered(call) && peer->usable() ? std::move(peer) : nullptr;
}

// The registry names each application's root; GTK 4's is not at the usual
// path.
ObjectRef AtspiSession::applicationRoot(const std::string& busName) {
  isProcessTrusted();
  for (const auto& app : applications_) {
    if (app.bus == busName) return app;
  }
  return {busName, kApplicationRoot};
}

bool AtspiSession::batchesProperties(const std::string& busName) {
  auto toolkit = owner_.knownToolkit(busName);
  return toolkit && answersPropertyBatches(*toolkit);
}

bool AtspiSession::isGtk4(const std::string& busName) {
  auto toolkit = owner_.knownToolkit(busName);
  return toolkit && atspi::isGtk4(*toolkit);
}

BusConnection& AtspiSession::connectionFor(const std::string& busName) {
  auto it = peers_.find(busName);
  if (it == peers_.end()) it = peers_.emplace(busName, openPeer(busName)).first;
  return it->second ? *it->second : *bus_;
}

void AtspiSession::fetch(const Plan& plan) {
  enum Kind {
    kAll,
    kName,
    kDescription,
    kRole,
    kStates,
    kInterfaces,
    kParent,
    kChildren,
    kNumber,
    kText
  };
  struct Asked {
    Facts* facts;
    Kind kind;
    CallBatch* batch;
    std::size_t call;
  };
  bool live = bus_ && !expired();
  // One batch per connection: usually all objects belong to one application.
  std::unordered_map<BusConnection*, std::unique_ptr<CallBatch>> batches;
  auto batchFor = [&](const ObjectRef& ref) -> CallBatch& {
    auto& batch = batches[&connectionFor(ref.bus)];
    if (!batch) batch = std::make_unique<CallBatch>(connectionFor(ref.bus));
    return *batch;
  };
  std::vector<Asked> asked;
  auto ask = [&](Facts& f, Kind kind, CallBatch& batch, std::size_t call) {
    asked.push_back({&f, kind, &batch, call});
  };

  for (const auto& ref : plan.basics) {
    Facts& f = facts_[ref];
    if (f.basicsRead) continue;
    f.basicsRead = true;  // also keeps a second mention out of this batch
    if (!live) {
      f.basicsError = kAXErrorCannotComplete;
      continue;
    }
    CallBatch& batch = batchFor(ref);
    // One GetAll saves a call, but Qt's bridge crashes on it: one Get per
    // property there (and wherever the toolkit is not known to cope).
    if (batchesProperties(ref.bus)) {
      ask(f, kAll, batch, batch.add(ref, kProperties, "GetAll", "s", kAccessible));
    } else {
      ask(f, kName, batch, batch.add(ref, kProperties, "Get", "ss", kAccessible, "Name"));
      ask(f, kDescription, batch,
          batch.add(ref, kProperties, "Get", "ss", kAccessible, "Description"));
    }
    ask(f, kRole, batch, batch.add(ref, kAccessible, "GetRole"));
    ask(f, kStates, batch, batch.add(ref, kAccessible, "GetState"));
    ask(f, kInterfaces, batch, batch.add(ref, kAccessible, "GetInterfaces"));
  }
  for (const auto& ref : plan.parents) {
    Facts& f = facts_[ref];
    if (f.parentRead) continue;
    f.parentRead = true;
    if (live) {
      ask(f, kParent, batchFor(ref),
          batchFor(ref).add(ref, kProperties, "Get", "ss", kAccessible, "Parent"));
    }
  }
  for (const auto& ref : plan.children) {
    Facts& f = facts_[ref];
    if (f.childrenRead) continue;
    f.childrenRead = true;
    if (!live) {
      f.childrenError = kAXErrorCannotComplete;
      continue;
    }
    ask(f, kChildren, batchFor(ref), batchFor(ref).add(ref, kAccessible, "GetChildren"));
  }
  for (const auto& ref : plan.values) {
    Facts& f = facts_[ref];
    if (f.valueRead || !f.basicsRead) continue;
    f.valueRead = true;
    if (f.basicsError != kAXErrorSuccess) {
      f.valueError = f.basicsError;
    } else if (isCheckable(f.role)) {
      f.value = has(f.states, kStateChecked) ? 1.0 : 0.0;
      f.valueError = kAXErrorSuccess;
    } else if (!(f.interfaces & (kInterfaceValue | kInterfaceText))) {
      f.valueError = kAXErrorNoValue;
    } else if (!live) {
      f.valueError = kAXErrorCannotComplete;
    } else if (f.interfaces & kInterfaceValue) {
      ask(f, kNumber, batchFor(ref),
          batchFor(ref).add(ref, kProperties, "Get", "ss", "org.a11y.atspi.Value", "CurrentValue"));
    } else {
      // -1 is "to the end" everywhere but in GTK 4, where the end must be
      // past it (LibreOffice refuses an end past it: it cannot be used there).
      std::int32_t end = isGtk4(ref.bus) ? std::numeric_limits<std::int32_t>::max() : -1;
      ask(f, kText, batchFor(ref),
          batchFor(ref).add(ref, "org.a11y.atspi.Text", "GetText", "ii", 0, end));
    }
  }
  if (asked.empty()) return;
  for (auto& [connection, batch] : batches) batch->run(deadline_);

  for (const auto& a : asked) {
    Facts& f = *a.facts;
    AXError error = errorOf(*a.batch, a.call);
    auto reply = a.batch->reply(a.call);
    bool read = false;
    switch (a.kind) {
      case kAll:
        read = reply && readAll(*reply, f);
        break;
      case kName:
      case kDescription: {
        std::string text;
        read = reply && reply->stringVariant(text);
        (a.kind == kName ? f.name : f.description) = text::toValidUtf8(text);
        break;
      }
      case kParent: {
        ObjectRef parent;
        if (reply && reply->objectRefVariant(parent)) {
          f.orphan = parent.path == kNullPath;
          f.parent = std::move(parent);
        }
        continue;
      }
      case kRole:
        read = reply && reply->uint32(f.role);
        break;
      case kStates:
        read = reply && reply->stateSet(f.states);
        break;
      case kInterfaces: {
        std::vector<std::string> names;
        read = reply && reply->strings(names);
        for (const auto& n : names) f.interfaces |= interfaceBit(n);
        break;
      }
      case kChildren:
        read = reply && reply->objectRefs(f.children);
        if (!read) f.childrenError = error ? error : kAXErrorFailure;
        continue;
      case kNumber: {
        double d = 0;
        read = reply && reply->numberVariant(d);
        if (read) f.value = d;
        f.valueError = read ? kAXErrorSuccess : (error ? error : kAXErrorFailure);
        continue;
      }
      case kText: {
        std::string s;
        read = reply && reply->string(s);
        if (read) f.value = text::toValidUtf8(s);
        f.valueError = read ? kAXErrorSuccess : (error ? error : kAXErrorFailure);
        continue;
      }
    }
    // The four calls of the basics share one error: the first that failed.
    if (!read && f.basicsError == kAXErrorSuccess) f.basicsError = error ? error : kAXErrorFailure;
  }
}

Facts& AtspiSession::basics(const ObjectRef& ref) {
  Facts& f = facts_[ref];
  if (!f.basicsRead) fetch({.basics = {ref}});
  return f;
}

Facts& AtspiSession::children(const ObjectRef& ref) {
  Facts& f = facts_[ref];
  if (!f.childrenRead) fetch({.children = {ref}});
  return f;
}

Facts& AtspiSession::value(const ObjectRef& ref) {
  Facts& f = basics(ref);
  if (!f.valueRead) fetch({.values = {ref}});
  return f;
}

// The walk of `AXCore::buildTree` on what is known so far. An element not
// yet read counts as one that takes a reference, and its children are read
// as well: whether it passes through is known only once its basics and value
// are, and either way its children come next.
void AtspiSession::planWalk(const ObjectRef& node, int depth, int nesting, Planning& p) {
  if (depth >= p.maxDepth || p.counter >= p.maxNodes) return;
  Facts& f = facts_[node];
  if (!f.childrenRead) {
    p.plan.children.push_back(node);
    return;
  }
  for (const auto& child : f.children) {
    auto it = facts_.find(child);
    const Facts* c = it == facts_.end() ? nullptr : &it->second;
    if (c != nullptr && c->basicsRead && has(c->states, kStateDefunct)) continue;
    if (p.counter >= p.maxNodes) break;
    bool known = c != nullptr && c->basicsRead && c->valueRead;
    if (known && nesting < kPassThroughNesting && p.passBudget > 0 && passes(child)) {
      --p.passBudget;
      planWalk(child, depth, nesting + 1, p);
      continue;
    }
    ++p.counter;
    if (c == nullptr || !c->basicsRead) {
      p.plan.basics.push_back(child);
    } else if (!c->valueRead) {
      p.plan.values.push_back(child);
    }
    planWalk(child, depth + 1, 0, p);
  }
}

void AtspiSession::prefetch(const AXElement& root, int maxDepth, int maxNodes) {
  const Element* e = elementOf(root);
  if (e == nullptr || e->ref.bus.empty()) return;
  // Each round reads one more level (and the values of the level before);
  // the walk is planned again from what is known, so elements beyond the
  // node budget are never asked for. Children not yet read count as none,
  // which can only place an element earlier than the walk will: nothing the
  // walk reads is missed, and what is planned in vain is little. Containers
  // passed through add rounds of their own.
  const int rounds = maxDepth + kPassThroughNesting + 2;
  for (int round = 0; round <= rounds && !expired(); ++round) {
    Planning planning{maxDepth, maxNodes, 0, passThroughBudget(maxNodes), {}};
    Facts& top = facts_[e->ref];
    if (!top.basicsRead) planning.plan.basics.push_back(e->ref);
    if (top.basicsRead && !top.valueRead) planning.plan.values.push_back(e->ref);
    planWalk(e->ref, 0, 0, planning);
    if (planning.plan.empty()) return;
    fetch(planning.plan);
  }
}

bool AtspiSession::passes(const ObjectRef& ref) {
  auto it = facts_.find(ref);
  if (it == facts_.end()) return false;
  return carriesNothing(it->second, !isGtk4(ref.bus));
}

bool AtspiSession::passesThrough(const AXElement& element) {
  const Element* e = elementOf(element);
  if (e == nullptr || e->ref.bus.empty()) return false;
  value(e->ref);
  return passes(e->ref);
}

// ---- Attributes ----

AXError AtspiSession::childrenValue(const ObjectRef& ref, AXValue& value) {
  Facts& f = children(ref);
  if (f.childrenError) return f.childrenError;
  std::vector<AXElement> list;
  for (const auto& child : f.children) {
    // A child whose states were read and say "defunct" is gone already.
    auto it = facts_.find(child);
    if (it != facts_.end() && it->second.basicsRead && has(it->second.states, kStateDefunct)) {
      continue;
    }
    list.push_back(std::make_shared<Element>(child));
  }
  value = std::move(list);
  return kAXErrorSuccess;
}

std::vector<AXElement> AtspiSession::windowsOf(const ObjectRef& app) {
  Facts& f = children(app);
  if (f.childrenError) return {};
  Plan plan;
  for (const auto& child : f.children) {
    if (!facts_[child].basicsRead) plan.basics.push_back(child);
  }
  fetch(plan);
  // An application's children are its top-level windows; Qt gives some of
  // them the role of what they show (a filler for a plain widget), so those
  // come after the window-like ones.
  std::vector<ObjectRef> windows;
  for (const auto& child : f.children) {
    const Facts& c = facts_[child];
    if (c.basicsError == kAXErrorSuccess && has(c.states, kStateShowing) &&
        !has(c.states, kStateDefunct)) {
      windows.push_back(child);
    }
  }
  std::stable_partition(windows.begin(), windows.end(),
                        [&](const ObjectRef& w) { return has(facts_[w].states, kStateActive); });
  std::stable_partition(windows.begin(), windows.end(),
                        [&](const ObjectRef& w) { return isWindowLike(facts_[w].role); });
  std::vector<AXElement> elements;
  for (auto& w : windows) elements.push_back(std::make_shared<Element>(std::move(w)));
  return elements;
}

AXError AtspiSession::extents(const ObjectRef& ref, std::int32_t (&box)[4]) {
  Facts* facts = nullptr;
  if (AXError e = liveBasics(ref, facts)) return e;
  Facts& f = *facts;
  if (!(f.interfaces & kInterfaceComponent)) return kAXErrorAttributeUnsupported;
  if (expired()) return kAXErrorCannotComplete;
  CallBatch batch(connectionFor(ref.bus));
  // Coordinate type 0: the screen's.
  auto call = batch.add(ref, "org.a11y.atspi.Component", "GetExtents", "u", 0u);
  batch.run(deadline_);
  if (AXError e = errorOf(batch, call)) return e;
  return batch.reply(call)->extents(box) ? kAXErrorSuccess : kAXErrorFailure;
}

AXError AtspiSession::screenExtents(const ObjectRef& ref, std::int32_t (&box)[4]) {
  if (AXError e = extents(ref, box)) return e;
  ScreenOffset offset;
  if (AXError e = screenOffset(ref, offset)) return e;
  box[0] += static_cast<std::int32_t>(offset.x);
  box[1] += static_cast<std::int32_t>(offset.y);
  return kAXErrorSuccess;
}

// The window is the ancestor whose parent is the application; its name and
// the application's process pick the compositor's window.
AXError AtspiSession::screenOffset(const ObjectRef& ref, ScreenOffset& offset) {
  ElementOrigins* origins = owner_.origins();
  if (origins == nullptr) return kAXErrorSuccess;
  ObjectRef window = ref;
  for (int level = 0; level < 64; ++level) {
    Facts& f = basics(window);
    if (f.basicsError) return f.basicsError;
    if (!f.parentRead) fetch({.parents = {window}});
    // GTK 4's application root is not at the usual path.
    if (f.parent.path == kApplicationRoot || f.parent.path.empty() ||
        f.parent == applicationRoot(window.bus)) {
      break;
    }
    window = f.parent;
  }
  auto pid = pidOf(window.bus);
  if (!pid) return kAXErrorCannotComplete;
  auto found = origins->elementOffset(*pid, basics(window).name);
  if (!found) return kAXErrorCannotComplete;
  offset = *found;
  return kAXErrorSuccess;
}

AXError AtspiSession::copyAttribute(const AXElement& element, std::string_view attribute,
                                    AXValue& value) {
  const Element* e = elementOf(element);
  if (e == nullptr) return kAXErrorIllegalArgument;
  const ObjectRef& ref = e->ref;
  bool list = attribute == "AXChildren" || attribute == "AXWindows";
  // The application of a pid that runs none: no windows, no children.
  if (ref.bus.empty()) {
    if (list) value = std::vector<AXElement>{};
    return list ? kAXErrorSuccess : kAXErrorNoValue;
  }
  if (attribute == "AXChildren") return childrenValue(ref, value);
  if (attribute == "AXWindows") {
    value = windowsOf(ref);
    return kAXErrorSuccess;
  }
  if (attribute == "AXValue") {
    Facts& f = this->value(ref);
    if (f.valueError) return f.valueError;
    value = *f.value;
    return kAXErrorSuccess;
  }
  if (attribute == "AXPosition" || attribute == "AXSize") {
    std::int32_t box[4];
    // Only a position needs the window's place on the screen.
    if (AXError err = attribute == "AXPosition" ? screenExtents(ref, box) : extents(ref, box)) {
      return err;
    }
    if (attribute == "AXPosition") {
      value = AXPoint{static_cast<double>(box[0]), static_cast<double>(box[1])};
    } else {
      value = AXSize{static_cast<double>(box[2]), static_cast<double>(box[3])};
    }
    return kAXErrorSuccess;
  }
  Facts& f = basics(ref);
  if (f.basicsError) return f.basicsError;
  if (attribute == "AXRole") {
    value = axRole(f.role, has(f.states, kStateMultiLine));
  } else if (attribute == "AXTitle" || attribute == "AXDescription") {
    const std::string& text = attribute == "AXTitle" ? f.name : f.description;
    if (text.empty()) return kAXErrorNoValue;
    value = text;
  } else if (attribute == "AXEnabled") {
    // GTK 4 sets SENSITIVE alone where GTK 3 sets both.
    value = has(f.states, kStateEnabled) || has(f.states, kStateSensitive);
  } else if (attribute == "AXFocused") {
    value = has(f.states, kStateFocused);
  } else {
    return kAXErrorAttributeUnsupported;
  }
  return kAXErrorSuccess;
}

// ---- Actions ----

AXError AtspiSession::liveBasics(const ObjectRef& ref, Facts*& facts) {
  facts = &basics(ref);
  if (facts->basicsError) return facts->basicsError;
  if (!facts->parentRead) fetch({.parents = {ref}});
  return gone(*facts) ? kAXErrorInvalidUIElement : kAXErrorSuccess;
}

AXError AtspiSession::press(const ObjectRef& ref) {
  Facts* facts = nullptr;
  if (AXError e = liveBasics(ref, facts)) return e;
  Facts& f = *facts;
  if (!(f.interfaces & kInterfaceAction)) return kAXErrorActionUnsupported;
  if (expired()) return kAXErrorCannotComplete;
  std::vector<std::string> names;
  {
    CallBatch batch(connectionFor(ref.bus));
    auto call = batch.add(ref, "org.a11y.atspi.Action", "GetActions");
    batch.run(deadline_);
    if (AXError e = errorOf(batch, call)) return e;
    if (!batch.reply(call)->actionNames(names)) return kAXErrorFailure;
  }
  if (names.empty()) return kAXErrorActionUnsupported;
  std::int32_t index = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::string name = text::lowercase(names[i]);
    if (std::find(std::begin(kPressNames), std::end(kPressNames), name) != std::end(kPressNames)) {
      index = static_cast<std::int32_t>(i);
      break;
    }
  }
  if (expired()) return kAXErrorCannotComplete;
  CallBatch batch(connectionFor(ref.bus));
  auto call = batch.add(ref, "org.a11y.atspi.Action", "DoAction", "i", index);
  batch.run(deadline_);
  return booleanAnswer(batch, call);
}

AXError AtspiSession::scrollByPage(const ObjectRef& ref, bool down) {
  Facts* facts = nullptr;
  if (AXError e = liveBasics(ref, facts)) return e;
  Facts& f = *facts;
  if (!isScrollable(f.role, has(f.states, kStateMultiLine))) return kAXErrorActionUnsupported;
  std::int32_t box[4];
  if (AXError e = screenExtents(ref, box)) return e;
  // AT-SPI has no scrolling action: the wheel, over the element's centre.
  MouseEvent wheel{MouseEventType::kScrollWheel, box[0] + box[2] / 2.0, box[1] + box[3] / 2.0,
                   MouseButton::kLeft};
  (down ? wheel.wheelDown : wheel.wheelRight) = kWheelStepsPerPage;
  const InputEvent events[] = {wheel};
  auto source = owner_.input().createEventSource();
  return source && source->post(events) ? kAXErrorSuccess : kAXErrorCannotComplete;
}

AXError AtspiSession::performAction(const AXElement& element, std::string_view action) {
  const Element* e = elementOf(element);
  if (e == nullptr) return kAXErrorIllegalArgument;
  if (e->ref.bus.empty()) return kAXErrorInvalidUIElement;
  if (action == "AXPress") return press(e->ref);
  if (action == "AXScrollDownByPage") return scrollByPage(e->ref, true);
  if (action == "AXScrollRightByPage") return scrollByPage(e->ref, false);
  if (action == "AXSelectAllText") return selectAllText(e->ref);
  return kAXErrorActionUnsupported;
}

// The Text interface's selection over the whole text: the first selection
// moved there when there is one, else a new one.
AXError AtspiSession::selectAllText(const ObjectRef& ref) {
  Facts* facts = nullptr;
  if (AXError e = liveBasics(ref, facts)) return e;
  if (!(facts->interfaces & kInterfaceText)) return kAXErrorActionUnsupported;
  if (expired()) return kAXErrorCannotComplete;
  constexpr const char* kText = "org.a11y.atspi.Text";
  std::int32_t length = 0, selections = 0;
  {
    CallBatch batch(connectionFor(ref.bus));
    auto count = batch.add(ref, kProperties, "Get", "ss", kText, "CharacterCount");
    auto existing = batch.add(ref, kText, "GetNSelections");
    batch.run(deadline_);
    if (AXError e = errorOf(batch, count)) return e;
    if (!batch.reply(count)->int32Variant(length)) return kAXErrorFailure;
    if (auto reply = batch.reply(existing)) reply->int32(selections);
  }
  if (length <= 0) return kAXErrorSuccess;
  CallBatch batch(connectionFor(ref.bus));
  auto call = selections > 0 ? batch.add(ref, kText, "SetSelection", "iii", 0, 0, length)
                             : batch.add(ref, kText, "AddSelection", "ii", 0, length);
  batch.run(deadline_);
  return booleanAnswer(batch, call);
}

AXError AtspiSession::grabFocus(const ObjectRef& ref) {
  Facts* facts = nullptr;
  if (AXError e = liveBasics(ref, facts)) return e;
  Facts& f = *facts;
  if (!(f.interfaces & kInterfaceComponent)) return kAXErrorAttributeUnsupported;
  if (expired()) return kAXErrorCannotComplete;
  CallBatch batch(connectionFor(ref.bus));
  auto call = batch.add(ref, "org.a11y.atspi.Component", "GrabFocus");
  batch.run(deadline_);
  return booleanAnswer(batch, call);
}

AXError AtspiSession::setValue(const ObjectRef& ref, const AXValue& value) {
  Facts* facts = nullptr;
  if (AXError e = liveBasics(ref, facts)) return e;
  Facts& f = *facts;
  auto* text = std::get_if<std::string>(&value);
  std::optional<double> number = numberOf(value);
  bool editable = text != nullptr && (f.interfaces & kInterfaceEditableText);
  bool numeric = !editable && (f.interfaces & kInterfaceValue);
  if (!editable && !numeric) return kAXErrorAttributeUnsupported;
  if (numeric && !number) return kAXErrorIllegalArgument;
  if (expired()) return kAXErrorCannotComplete;
  CallBatch batch(connectionFor(ref.bus));
  std::size_t call;
  if (editable) {
    call = batch.add(ref, "org.a11y.atspi.EditableText", "SetTextContents", "s", text->c_str());
  } else {
    call = batch.add(ref, kProperties, "Set", "ssv", "org.a11y.atspi.Value", "CurrentValue", "d",
                     *number);
  }
  batch.run(deadline_);
  // What was read of the value no longer holds.
  f.valueRead = false;
  f.value.reset();
  return editable ? booleanAnswer(batch, call) : errorOf(batch, call);
}

AXError AtspiSession::setAttribute(const AXElement& element, std::string_view attribute,
                                   const AXValue& value) {
  const Element* e = elementOf(element);
  if (e == nullptr) return kAXErrorIllegalArgument;
  if (e->ref.bus.empty()) return kAXErrorInvalidUIElement;
  if (attribute == "AXFocused") {
    auto* focus = std::get_if<bool>(&value);
    if (focus == nullptr || !*focus) return kAXErrorIllegalArgument;
    return grabFocus(e->ref);
  }
  if (attribute == "AXValue") return setValue(e->ref, value);
  return kAXErrorAttributeUnsupported;
}

}  // namespace vorn::platform::atspi
