#include "common/mcp/session.h"

#include <exception>
#include <new>
#include <utility>

#include "common/mcp/call_context.h"
#include "common/mcp/protocol_versions.h"
#include "common/mcp/roots.h"

namespace vorn::mcp {

using nlohmann::json;

namespace {

constexpr std::string_view kVersionKey = "io.modelcontextprotocol/protocolVersion";
constexpr std::string_view kCapabilitiesKey = "io.modelcontextprotocol/clientCapabilities";

const json& member(const json& object, std::string_view key) {
  static const json kAbsent;
  if (!object.is_object()) return kAbsent;
  auto found = object.find(key);
  return found == object.end() ? kAbsent : *found;
}

json versionList() { return json(kSupportedVersions); }

// A call answered by the core itself, without the tool: no answer object of
// the program's, only words for the model.
ToolResult coreFailure(std::string text) {
  return ToolResult{.structured = nullptr, .text = std::move(text), .isError = true};
}

}  // namespace

struct Session::MethodEntry {
  std::string_view name;
  bool needsRevision;  // served only under a handshake or a revision in `_meta`
  void (Session::*handle)(const Request&, const RequestEra&);
};

const Session::MethodEntry Session::kMethods[] = {
    {"initialize", false, &Session::initialize},   {"ping", false, &Session::ping},
    {"server/discover", true, &Session::discover}, {"tools/list", true, &Session::listTools},
    {"tools/call", true, &Session::callTool},
};

struct Session::PendingCall {
  std::shared_ptr<CallState> state;
  const Tool* tool = nullptr;
  json arguments;
  RequestEra era;
  std::optional<std::vector<Root>> roots;
  bool rootsFromHandshake = false;  // wait for the client's first roots answer
};

Session::Session(ServerInfo server, std::vector<Tool> tools, Output& output, Submit submit,
                 Diagnose diagnose, SessionOptions options)
    : server_(std::move(server)),
      tools_(std::move(tools)),
      output_(output),
      submit_(std::move(submit)),
      diagnose_(std::move(diagnose)),
      options_(options),
      calls_(output, {options.maxCallsInFlight, options.maxBytesInFlight},
             options.progressInterval) {}

void Session::handleLine(std::string_view line) {
  if (line.find_first_not_of(" \t\r") == std::string_view::npos) return;
  auto message = readMessage(line);
  if (auto* request = std::get_if<Request>(&message)) return onRequest(*request, line.size());
  if (auto* notification = std::get_if<Notification>(&message))
    return onNotification(*notification);
  if (auto* response = std::get_if<Response>(&message)) return onResponse(*response);
  if (auto* malformed = std::get_if<Malformed>(&message)) {
    return output_.send(errorLine(malformed->id, malformed->code, malformed->message));
  }
  diagnose_("dropped " + std::get<Unanswerable>(message).reason);
}

void Session::handleOversizedLine(std::size_t limit) {
  output_.send(
      errorLine(std::nullopt, error_code::kInvalidRequest,
                "Invalid request: a message may hold at most " + std::to_string(limit) + " bytes"));
}

void Session::endOfInput() {
  calls_.cancelAll();
  roots_.close();
}

void Session::onRequest(const Request& request, std::size_t bytes) {
  lineBytes_ = bytes;
  for (const auto& entry : kMethods) {
    if (entry.name != request.method) continue;
    auto era = eraOf(request, entry.needsRevision);
    if (auto* error = std::get_if<std::string>(&era)) return output_.send(*error);
    return (this->*entry.handle)(request, std::get<RequestEra>(era));
  }
  fail(request.id, error_code::kMethodNotFound, "Method not found: " + request.method);
}

std::variant<RequestEra, std::string> Session::eraOf(const Request& request, bool required) const {
  const json& meta = member(request.params, "_meta");
  const json& version = member(meta, kVersionKey);
  if (!version.is_null() && request.method != "initialize") {
    if (!version.is_string()) {
      return errorLine(request.id, error_code::kInvalidParams,
                       "Invalid params: _meta." + std::string(kVersionKey) + " must be a string");
    }
    if (!isSupportedVersion(version.get<std::string>())) {
      return errorLine(request.id, error_code::kUnsupportedProtocolVersion,
                       "Unsupported protocol version",
                       {{"supported", versionList()}, {"requested", version}});
    }
    const json& capabilities = member(meta, kCapabilitiesKey);
    if (!capabilities.is_object()) {
      return errorLine(
          request.id, error_code::kInvalidParams,
          "Invalid params: _meta." + std::string(kCapabilitiesKey) + " must be an object");
    }
    return RequestEra{version.get<std::string>(), true, capabilities};
  }
  if (!handshakeVersion_.empty() || !required) {
    return RequestEra{handshakeVersion_, false, handshakeCapabilities_};
  }
  return errorLine(request.id, error_code::kInvalidParams,
                   "Invalid params: no protocol revision; send initialize first, or name the "
                   "revision in _meta." +
                       std::string(kVersionKey));
}

void Session::initialize(const Request& request, const RequestEra&) {
  const json& requested = member(request.params, "protocolVersion");
  if (!requested.is_string()) {
    return fail(request.id, error_code::kInvalidParams,
                "Invalid params: initialize needs protocolVersion (a string)");
  }
  const json& capabilities = member(request.params, "capabilities");
  handshakeVersion_ = negotiateHandshakeVersion(requested.get<std::string>());
  handshakeCapabilities_ = capabilities.is_object() ? capabilities : json::object();
  roots_.reset(handshakeCapabilities_.contains("roots"));
  output_.send(resultLine(request.id, initializeResult(server_, handshakeVersion_)));
}

void Session::ping(const Request& request, const RequestEra& era) {
  answer(request, json::object(), era);
}

void Session::discover(const Request& request, const RequestEra& era) {
  answer(request, discoverResult(server_), era);
}

void Session::listTools(const Request& request, const RequestEra& era) {
  answer(request, toolsListResult(tools_, era.version), era);
}

void Session::callTool(const Request& request, const RequestEra& era) {
  const json& name = member(request.params, "name");
  if (!name.is_string()) {
    return fail(request.id, error_code::kInvalidParams, "Invalid params: tools/call needs name");
  }
  const Tool* tool = nullptr;
  for (const auto& candidate : tools_) {
    if (candidate.name == name.get_ref<const std::string&>()) tool = &candidate;
  }
  if (!tool) {
    return fail(request.id, error_code::kInvalidParams, "Unknown tool: " + name.get<std::string>());
  }
  json arguments = member(request.params, "arguments");
  if (arguments.is_null()) arguments = json::object();
  if (!arguments.is_object()) {
    return fail(request.id, error_code::kInvalidParams,
                "Invalid params: arguments must be an object");
  }
  json token = member(member(request.params, "_meta"), "progressToken");
  if (!token.is_string() && !token.is_number_integer()) token = nullptr;

  auto state = std::make_shared<CallState>(request.id, std::move(token));
  state->bytes = lineBytes_;
  auto pending = std::make_shared<PendingCall>(PendingCall{
      .state = std::move(state), .tool = tool, .arguments = std::move(arguments), .era = era});
  bool stateless = era.perRequest && isStatelessVersion(era.version);
  if (tool->usesRoots && stateless && era.clientCapabilities.contains("roots")) {
    // A stateless client hands its roots over with the call itself.
    const json& given = member(member(request.params, "inputResponses"), kRootsInputKey);
    if (given.is_null()) return answer(request, rootsRequiredResult(), era);
    pending->roots = readRoots(given);
    if (!pending->roots) {
      return fail(request.id, error_code::kInvalidParams,
                  "Invalid params: inputResponses.roots must be a roots/list result");
    }
  } else if (tool->usesRoots && !stateless) {
    pending->rootsFromHandshake = roots_.offered();
  }
  startCall(std::move(pending));
}

void Session::startCall(std::shared_ptr<PendingCall> pending) {
  const RequestId& id = pending->state->id;
  switch (calls_.admit(pending->state)) {
    case InFlightCalls::Admission::kIdInUse:
      return fail(id, error_code::kInvalidRequest,
                  "Invalid request: id " + id.json() + " is in use by a call in flight");
    case InFlightCalls::Admission::kFull: {
      json result = callToolResult(
          coreFailure("The server is busy with other calls. Try again when one has finished."),
          pending->era.version);
      finishResult(result, pending->era, server_);
      return output_.send(resultLine(id, result));
    }
    case InFlightCalls::Admission::kAdmitted:
      break;
  }
  submit_([this, pending] { runCall(*pending); });
}

void Session::runCall(PendingCall& pending) {
  CallState& state = *pending.state;
  if (state.stop.stop_requested()) return calls_.finish(state, {});  // cancelled while queued
  if (pending.rootsFromHandshake) {
    pending.roots = roots_.current(CallState::Clock::now() + options_.rootsWait);
  }
  CallContextImpl context(state, calls_, pending.roots, pending.era.version);
  ToolResult result;
  try {
    result = pending.tool->handler(pending.arguments, context);
  } catch (const std::exception& error) {
    diagnose_("tool " + pending.tool->name + " failed: " + error.what());
    result = coreFailure(std::string("The tool failed unexpectedly: ") + error.what());
  } catch (...) {
    diagnose_("tool " + pending.tool->name + " failed");
    result = coreFailure("The tool failed unexpectedly.");
  }
  try {
    json answer = callToolResult(std::move(result), pending.era.version);
    finishResult(answer, pending.era, server_);
    calls_.finish(state, resultLine(state.id, answer));
  } catch (const std::bad_alloc&) {
    calls_.finish(state, errorLine(state.id, error_code::kInternalError,
                                   "Internal error: the answer does not fit in memory"));
  }
}

void Session::onNotification(const Notification& notification) {
  const std::string& method = notification.method;
  if (method == "notifications/cancelled") {
    if (auto id = RequestId::fromValue(member(notification.params, "requestId")))
      calls_.cancel(*id);
  } else if (method == "notifications/initialized" ||
             method == "notifications/roots/list_changed") {
    if (roots_.offered()) askForRoots();
  }
  // Other notifications need nothing from us.
}

void Session::onResponse(const Response& response) {
  switch (roots_.take(response)) {
    case ClientRoots::Taken::kNotOurs:
      return diagnose_("dropped a response to no request of ours: id " + response.id.json());
    case ClientRoots::Taken::kFailed:
      return diagnose_("the client's roots/list answer is unusable: " +
                       compactJson(response.error.is_null() ? response.result : response.error));
    case ClientRoots::Taken::kRoots:
      return;
  }
}

void Session::askForRoots() {
  output_.send(requestLine(roots_.nextRequest(), "roots/list", json::object()));
}

void Session::answer(const Request& request, json result, const RequestEra& era) {
  finishResult(result, era, server_);
  output_.send(resultLine(request.id, result));
}

void Session::fail(const RequestId& id, int code, std::string_view message, const json& data) {
  output_.send(errorLine(id, code, message, data));
}

}  // namespace vorn::mcp
