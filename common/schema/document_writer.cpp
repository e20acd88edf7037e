#include "common/schema/document_writer.h"

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "common/schema/json_schema.h"

namespace vorn::schema {
namespace {

bool writeIfChanged(const std::string& path, const std::string& text) {
  std::ifstream current(path, std::ios::binary);
  std::stringstream before;
  before << current.rdbuf();
  if (current && before.str() == text) return true;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

}  // namespace

int writeDocumentsMain(int argc, char** argv, std::span<const NamedDocument> documents) {
  if (argc != 2) {
    std::cerr << "usage: " << (argc > 0 ? argv[0] : "schema-writer") << " FOLDER\n";
    return 2;
  }
  for (const auto& [name, document] : documents) {
    std::string path = std::string(argv[1]) + "/" + std::string(name);
    if (!writeIfChanged(path, documentText(document))) {
      std::cerr << argv[0] << ": cannot write " << path << "\n";
      return 1;
    }
  }
  return 0;
}

}  // namespace vorn::schema
