#include "common/schema/json_schema.h"

#include <cmath>
#include <string>

namespace vorn::schema {

using nlohmann::json;

namespace {

const char* typeName(Type type) {
  switch (type) {
    case Type::kString:
      return "string";
    case Type::kBoolean:
      return "boolean";
    case Type::kInteger:
      return "integer";
    case Type::kNumber:
      return "number";
    case Type::kStringList:
    case Type::kObjectList:
      return "array";
    case Type::kObject:
      return "object";
    case Type::kAny:
      return "";
  }
  return "null";
}

// Whole numbers as integers: "30", not "30.0".
json numberValue(double value) {
  if (std::trunc(value) == value && std::fabs(value) < 9e15) {
    return static_cast<std::int64_t>(value);
  }
  return value;
}

json defaultValue(const Default& fallback) {
  switch (fallback.kind) {
    case Default::Kind::kBoolean:
      return fallback.boolean;
    case Default::Kind::kInteger:
      return fallback.integer;
    case Default::Kind::kNumber:
      return numberValue(fallback.number);
    case Default::Kind::kString:
      return std::string(fallback.string);
    case Default::Kind::kEmptyList:
      return json::array();
    case Default::Kind::kNone:
      break;
  }
  return nullptr;
}

// The default and the clamped range said in words, after the description:
// a reader that ignores `default` still learns them.
std::string describe(const Field& field) {
  std::string text(field.description);
  if (field.fallback.given()) text += " Default: " + defaultValue(field.fallback).dump() + ".";
  if (field.floor) {
    auto bound = numberValue(*field.floor).dump();
    text += " Less than " + bound + " counts as " + bound + ".";
  }
  if (field.ceiling) {
    auto bound = numberValue(*field.ceiling).dump();
    text += " More than " + bound + " counts as " + bound + ".";
  }
  return text;
}

json allowedValues(std::span<const std::string_view> allowed) {
  json values = json::array();
  for (auto value : allowed) values.push_back(std::string(value));
  return values;
}

// The type and what constrains a value of it, without the description.
json valueSchema(const Field& field) {
  if (field.type == Type::kAny) {
    // Every type named: protocol clients refuse a schema that names none.
    json choices = json::array();
    for (const char* name : {"string", "number", "boolean", "object", "array", "null"}) {
      choices.push_back({{"type", name}});
    }
    return {{"anyOf", std::move(choices)}};
  }
  json schema{{"type", typeName(field.type)}};
  if (field.type == Type::kStringList) {
    json items{{"type", "string"}};
    if (!field.allowed.empty()) items["enum"] = allowedValues(field.allowed);
    schema["items"] = std::move(items);
  } else if (field.type == Type::kObjectList) {
    schema["items"] = field.memberCount == 0
                          ? json{{"type", "object"}}
                          : objectSchema(field.memberFields(), OtherKeys::kRefused);
  } else if (field.type == Type::kObject) {
    schema.update(objectSchema(field.memberFields(), OtherKeys::kRefused));
  } else if (!field.allowed.empty()) {
    schema["enum"] = allowedValues(field.allowed);
  }
  if (field.notBlank && field.type == Type::kString) schema["pattern"] = "\\S";
  if (field.minimum) schema["minimum"] = numberValue(*field.minimum);
  if (field.maximum) schema["maximum"] = numberValue(*field.maximum);
  return schema;
}

}  // namespace

json fieldSchema(const Field& field) {
  json schema;
  if (field.nullable) {
    // A choice rather than a list of types: protocol clients take one type
    // name per schema.
    schema["anyOf"] = json::array({valueSchema(field), json{{"type", "null"}}});
  } else {
    schema = valueSchema(field);
  }
  if (auto text = describe(field); !text.empty()) schema["description"] = std::move(text);
  if (field.fallback.given()) schema["default"] = defaultValue(field.fallback);
  return schema;
}

json objectSchema(std::span<const Field> fields, OtherKeys other) {
  json properties = json::object();
  json required = json::array();
  for (const auto& field : fields) {
    properties[std::string(field.name)] = fieldSchema(field);
    if (field.required) required.push_back(std::string(field.name));
  }
  json schema{{"type", "object"}, {"properties", std::move(properties)}};
  if (!required.empty()) schema["required"] = std::move(required);
  if (other == OtherKeys::kRefused) schema["additionalProperties"] = false;
  return schema;
}

json toolInputSchema(const OperationShape& operation) {
  return objectSchema(operation.request, OtherKeys::kIgnored);
}

json wireRequestSchema(const OperationShape& operation, std::string_view opKey) {
  json schema = objectSchema(operation.request, OtherKeys::kIgnored);
  schema["description"] = std::string(operation.description);
  json op{{"const", std::string(operation.name)}};
  schema["properties"][std::string(opKey)] = std::move(op);
  json required = json::array({std::string(opKey)});
  for (const auto& name : schema.value("required", json::array())) required.push_back(name);
  schema["required"] = std::move(required);
  return schema;
}

json document(json schema, std::string_view id, std::string_view title) {
  json head{
      {"$schema", std::string(kDialect)}, {"$id", std::string(id)}, {"title", std::string(title)}};
  head.update(schema);
  return head;
}

json choiceDocument(NamedSchemas schemas, std::string_view keyword, std::string_view description,
                    std::string_view id, std::string_view title) {
  json defs = json::object();
  json choices = json::array();
  for (auto& [name, schema] : schemas) {
    choices.push_back({{"$ref", "#/$defs/" + name}});
    defs[name] = std::move(schema);
  }
  json root{{"description", std::string(description)},
            {"$defs", std::move(defs)},
            {std::string(keyword), std::move(choices)}};
  return document(std::move(root), id, title);
}

std::string documentText(const json& document) { return document.dump(2) + "\n"; }

}  // namespace vorn::schema
