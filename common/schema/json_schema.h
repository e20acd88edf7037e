// JSON Schema (draft 2020-12) generated from field descriptions (field.h):
// documents for people and validators, and the plain form a Model Context
// Protocol client takes as a tool's input schema.
#pragma once

#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/schema/field.h"

namespace vorn::schema {

/// The dialect every document names in `$schema`.
inline constexpr std::string_view kDialect = "https://json-schema.org/draft/2020-12/schema";

/// What an object schema says of keys it does not list.
enum class OtherKeys {
  kIgnored,  ///< allowed (a request's unknown keys are ignored)
  kRefused,  ///< not allowed (an answer carries exactly its fields)
};

/// The schema of one field's value: its type (a nullable one as a choice
/// with null), its description with the default and the clamped range
/// appended in words, `default`, `minimum`/`maximum`, `enum`, `pattern` for a
/// text that must not be blank, and the members of an object.
nlohmann::json fieldSchema(const Field& field);

/// An object schema of `fields`: `properties` in their order, `required` for
/// the required ones, and `additionalProperties: false` when `other` refuses
/// the rest.
nlohmann::json objectSchema(std::span<const Field> fields, OtherKeys other);

/// The tool input schema of `operation` for a protocol client: an object of
/// its request fields, with no `$schema`, `$ref`, `$defs` and nothing but
/// `type: object` and properties at the top (tool_checks.h).
nlohmann::json toolInputSchema(const OperationShape& operation);

/// The request of `operation` as it is sent on the wire: its fields and
/// `opKey` (the operation's name as a constant), other keys ignored.
nlohmann::json wireRequestSchema(const OperationShape& operation, std::string_view opKey);

/// `schema` as a document of its own: `$schema` (kDialect), `$id` and
/// `title` first.
nlohmann::json document(nlohmann::json schema, std::string_view id, std::string_view title);

/// Schemas by the names they go under in `$defs`, in order.
using NamedSchemas = std::vector<std::pair<std::string, nlohmann::json>>;

/// A document (see `document`) whose `$defs` holds each of `schemas` and
/// whose root accepts `keyword` ("oneOf" or "anyOf") of them, referenced in
/// their order.
nlohmann::json choiceDocument(NamedSchemas schemas, std::string_view keyword,
                              std::string_view description, std::string_view id,
                              std::string_view title);

/// The request document of an operation table (entries with a `shape`):
/// one of its operations' wire requests, each named `op` by its name.
template <class Entry>
nlohmann::json requestDocument(std::span<const Entry> table, std::string_view description,
                               std::string_view id, std::string_view title) {
  NamedSchemas requests;
  for (const auto& entry : table) {
    requests.emplace_back(entry.shape.name, wireRequestSchema(entry.shape, "op"));
  }
  return choiceDocument(std::move(requests), "oneOf", description, id, title);
}

/// The text of `document` as written to a file: two-space indents, a final
/// line feed.
std::string documentText(const nlohmann::json& document);

}  // namespace vorn::schema
