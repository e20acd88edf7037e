// A server on the protocol core with made-up tools, for the client tests:
// a quick echo, a slow one that runs a child process group and reports
// progress, one whose child inherits the standard streams, one that fails,
// one that throws, one with an image, and one that reports the client's roots.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fstream>
#include <mutex>
#include <stop_token>
#include <string>

#include "common/mcp/stdio_server.h"

extern char** environ;

namespace {

using nlohmann::json;
using vorn::mcp::CallContext;
using vorn::mcp::Tool;
using vorn::mcp::ToolResult;

// A 3x2 red PNG.
constexpr char kPng[] =
    "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x03\x00\x00"
    "\x00\x02\x08\x02\x00\x00\x00\x12\x16\xf1\x4d\x00\x00\x00\x10\x49\x44\x41\x54\x78\x9c\x63"
    "\xf8\xcf\xc0\x00\x41\x0c\x70\x16\x00\x41\xd2\x05\xfb\x87\xf0\xb9\x48\x00\x00\x00\x00\x49"
    "\x45\x4e\x44\xae\x42\x60\x82";

json object(json properties, json required = json::array()) {
  return {
      {"type", "object"}, {"properties", std::move(properties)}, {"required", std::move(required)}};
}

ToolResult echo(const json& arguments, CallContext&) {
  auto text = arguments.find("text");
  if (text == arguments.end() || !text->is_string()) {
    return {.structured = {{"ok", false}, {"error", "text is required"}}, .isError = true};
  }
  return {.structured = {
              {"ok", true}, {"text", *text}, {"tags", arguments.value("tags", json::array())}}};
}

// A child process group like the ones a shell call leaves: a shell with two
// sleeping children, its standard input on /dev/null.
pid_t startGroup() {
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  const char* argv[] = {"/bin/sh", "-c", "sleep 600 & sleep 600 & wait", nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, "/bin/sh", &actions, &attributes, const_cast<char**>(argv), environ) != 0) {
    pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return pid;
}

ToolResult slow(const json& arguments, CallContext& context) {
  double seconds = arguments.value("seconds", 5.0);
  pid_t group = startGroup();
  if (group < 0) return {.structured = {{"ok", false}, {"error", "spawn failed"}}, .isError = true};
  if (auto file = arguments.find("group_file"); file != arguments.end() && file->is_string()) {
    std::ofstream(file->get<std::string>()) << group << "\n";
  }
  // Cancelling ends the whole group at once, as the runner will do.
  std::stop_callback stopGroup(context.stopToken(), [group] { ::kill(-group, SIGKILL); });
  context.reportProgress("sleeping");
  std::mutex mutex;
  std::condition_variable_any never;
  std::unique_lock lock(mutex);
  bool cancelled = never.wait_for(lock, context.stopToken(), std::chrono::duration<double>(seconds),
                                  [] { return false; }) ||
                   context.stopToken().stop_requested();
  ::kill(-group, SIGKILL);
  ::waitpid(group, nullptr, 0);
  return {.structured = {{"ok", !cancelled}, {"seconds", seconds}}};
}

// A child that inherits the server's standard streams, as a careless tool's
// would: it must neither read the client's messages nor print into them.
ToolResult inherit(const json&, CallContext&) {
  const char* argv[] = {"/bin/sh", "-c", "cat; echo leaked", nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
    return {.structured = {{"ok", false}, {"error", "spawn failed"}}, .isError = true};
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return {.structured = {{"ok", true}, {"status", WEXITSTATUS(status)}}};
}

ToolResult fail(const json&, CallContext&) {
  return {.structured = {{"ok", false},
                         {"error", "failed on purpose"},
                         {"message", "failed on purpose"}},
          .isError = true};
}

ToolResult explode(const json&, CallContext&) { throw std::runtime_error("exploded on purpose"); }

ToolResult image(const json&, CallContext&) {
  return {.structured = {{"ok", true}, {"width", 3}, {"height", 2}},
          .images = {{.bytes = std::string(kPng, sizeof kPng - 1)}}};
}

ToolResult roots(const json&, CallContext& context) {
  json result = {{"ok", true}, {"offered", context.roots().has_value()}, {"roots", json::array()}};
  if (context.roots()) {
    for (const auto& root : *context.roots()) {
      result["roots"].push_back({{"uri", root.uri},
                                 {"name", root.name},
                                 {"path", root.path ? json(*root.path) : json()}});
    }
  }
  return {.structured = std::move(result)};
}

std::vector<Tool> tools() {
  json text = {{"type", "string"}, {"description", "The text to send back"}};
  json tags = {{"type", "array"}, {"items", {{"type", "string"}}}, {"description", "Labels"}};
  return {
      {.name = "echo",
       .description = "Sends the text back. Answers {ok, text, tags}.",
       .inputSchema = object({{"text", text}, {"tags", tags}}, {"text"}),
       .annotations = {.readOnly = true},
       .handler = echo},
      {.name = "slow",
       .description = "Runs a child process group for a while, reporting progress; cancelling "
                      "ends the group. Answers {ok, seconds}.",
       .inputSchema = object({{"seconds", {{"type", "number"}, {"minimum", 0}}},
                              {"group_file", {{"type", "string"}}}}),
       .handler = slow},
      {.name = "inherit",
       .description = "Runs a child on the server's own standard streams. Answers {ok, status}.",
       .inputSchema = object(json::object()),
       .handler = inherit},
      {.name = "fail",
       .description = "Always fails. Answers {ok: false, error, message}.",
       .inputSchema = object(json::object()),
       .handler = fail},
      {.name = "explode",
       .description = "Throws inside its handler.",
       .inputSchema = object(json::object()),
       .handler = explode},
      {.name = "image",
       .description = "Answers a 3x2 PNG image block and {ok, width, height}.",
       .inputSchema = object(json::object()),
       .handler = image},
      {.name = "roots",
       .description =
           "Answers the roots the client offers: {ok, offered, roots: [{uri, name, path}]}.",
       .inputSchema = object(json::object()),
       .usesRoots = true,
       .handler = roots},
  };
}

}  // namespace

int main() {
  std::signal(SIGPIPE, SIG_IGN);
  return vorn::mcp::serveStdio({.name = "vorn-mcp-test-server",
                                .version = "0.1.0",
                                .instructions = "Made-up tools for tests."},
                               tools());
}
