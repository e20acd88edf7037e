#include "common/mcp/tool_checks.h"

#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace vorn::mcp {

using nlohmann::json;

namespace {

// Keywords clients resolve differently or not at all.
constexpr std::array<std::string_view, 9> kReferenceKeywords = {
    "$ref",    "$defs",       "definitions",    "$schema",      "$id",
    "$anchor", "$dynamicRef", "$dynamicAnchor", "$recursiveRef"};
constexpr std::array<std::string_view, 7> kTypes = {"null",   "boolean", "object", "array",
                                                    "number", "string",  "integer"};
constexpr std::array<std::string_view, 4> kTopLevelCompositions = {"oneOf", "anyOf", "allOf",
                                                                   "not"};
// Keywords whose value is one schema; the first two may also be a boolean.
constexpr std::array<std::string_view, 2> kMaybeBooleanKeywords = {"additionalProperties",
                                                                   "unevaluatedProperties"};
constexpr std::array<std::string_view, 6> kSchemaKeywords = {"not", "contains", "propertyNames",
                                                             "if",  "then",     "else"};
constexpr std::array<std::string_view, 3> kSchemaListKeywords = {"anyOf", "oneOf", "allOf"};
constexpr std::array<std::string_view, 3> kSchemaMapKeywords = {"properties", "patternProperties",
                                                                "dependentSchemas"};
constexpr std::array<std::string_view, 6> kConstrainingKeywords = {"type",  "enum",  "const",
                                                                   "anyOf", "oneOf", "allOf"};

template <std::size_t N>
bool listed(const std::array<std::string_view, N>& list, std::string_view word) {
  for (auto entry : list) {
    if (entry == word) return true;
  }
  return false;
}

std::string child(const std::string& path, std::string_view step) {
  return path + "." + std::string(step);
}

class SchemaWalk {
 public:
  /// The first fault below `schema`, as "<path>: <fault>".
  std::optional<std::string> check(const json& schema, const std::string& path, bool underNot) {
    if (!schema.is_object()) return path + ": a schema must be an object";
    for (auto& [key, value] : schema.items()) {
      if (listed(kReferenceKeywords, key)) return child(path, key) + ": not portable; write it out";
    }
    if (auto fault = checkOwnKeywords(schema, path, underNot)) return fault;
    return checkChildren(schema, path);
  }

 private:
  std::optional<std::string> checkOwnKeywords(const json& schema, const std::string& path,
                                              bool underNot) {
    if (auto type = schema.find("type"); type != schema.end()) {
      if (!type->is_string() || !listed(kTypes, type->get<std::string>())) {
        return child(path, "type") + ": must be one type name";
      }
    }
    bool constrains = false;
    for (auto keyword : kConstrainingKeywords) constrains = constrains || schema.contains(keyword);
    if (!constrains && !underNot) return path + ": says nothing of what it accepts; give a type";
    return checkRequired(schema, path);
  }

  std::optional<std::string> checkRequired(const json& schema, const std::string& path) {
    auto required = schema.find("required");
    if (required == schema.end()) return std::nullopt;
    const json properties = schema.value("properties", json::object());
    if (!required->is_array()) return child(path, "required") + ": must be a list of names";
    for (const auto& name : *required) {
      if (!name.is_string() || !properties.contains(name.get<std::string>())) {
        return child(path, "required") + ": names " + name.dump() + ", which is not a property";
      }
    }
    return std::nullopt;
  }

  std::optional<std::string> checkChildren(const json& schema, const std::string& path) {
    for (auto& [key, value] : schema.items()) {
      std::string at = child(path, key);
      std::optional<std::string> fault;
      if (listed(kMaybeBooleanKeywords, key)) {
        if (!value.is_boolean()) fault = check(value, at, false);
      } else if (listed(kSchemaKeywords, key)) {
        fault = check(value, at, key == "not");
      } else if (key == "items" || listed(kSchemaListKeywords, key) || key == "prefixItems") {
        fault = value.is_array() ? checkEach(value, at) : check(value, at, false);
      } else if (listed(kSchemaMapKeywords, key)) {
        fault = value.is_object() ? checkEach(value, at) : at + ": must map names to schemas";
      }
      if (fault) return fault;
    }
    return std::nullopt;
  }

  std::optional<std::string> checkEach(const json& schemas, const std::string& path) {
    for (auto& [key, value] : schemas.items()) {
      if (auto fault = check(value, child(path, key), false)) return fault;
    }
    return std::nullopt;
  }
};

std::optional<std::string> checkObjectSchema(const json& schema, const std::string& path) {
  if (!schema.is_object() || schema.value("type", json()) != "object") {
    return path + ": must be an object schema (\"type\": \"object\")";
  }
  for (auto keyword : kTopLevelCompositions) {
    if (schema.contains(keyword)) return child(path, keyword) + ": not allowed at the top";
  }
  return SchemaWalk().check(schema, path, false);
}

bool isToolName(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    if (!((c >= 'a' && c <= 'z') || c == '_')) return false;
  }
  return true;
}

}  // namespace

Status checkTool(const Tool& tool) {
  std::string subject = "tool \"" + tool.name + "\"";
  if (!isToolName(tool.name))
    return Status::failure(subject + ": the name must be 1 to 64 of [a-z_]");
  if (tool.description.empty()) return Status::failure(subject + ": no description");
  if (!tool.handler) return Status::failure(subject + ": no handler");
  if (auto fault = checkObjectSchema(tool.inputSchema, "inputSchema")) {
    return Status::failure(subject + ": " + *fault);
  }
  if (!tool.outputSchema.is_null()) {
    if (auto fault = checkObjectSchema(tool.outputSchema, "outputSchema")) {
      return Status::failure(subject + ": " + *fault);
    }
  }
  return Status::success();
}

Status checkTools(std::span<const Tool> tools) {
  std::set<std::string_view> names;
  for (const auto& tool : tools) {
    if (auto status = checkTool(tool); !status.ok()) return status;
    if (!names.insert(tool.name).second) {
      return Status::failure("tool \"" + tool.name + "\": named twice");
    }
  }
  return Status::success();
}

}  // namespace vorn::mcp
