// The build step that writes the runner's schema documents: vorn-runner-schema
// FOLDER. A file whose text is already current is left alone, so its time
// stamp only moves when the table does.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "agent-runner/protocol/schema_documents.h"
#include "common/schema/json_schema.h"

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

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: vorn-runner-schema FOLDER\n";
    return 2;
  }
  std::string folder = argv[1];
  using namespace VornAgentRunnerMain;
  for (auto [name, document] : {std::pair{kRequestSchemaFile, requestDocument()},
                                std::pair{kAnswerSchemaFile, answerDocument()}}) {
    std::string path = folder + "/" + name;
    if (!writeIfChanged(path, vorn::schema::documentText(document))) {
      std::cerr << "vorn-runner-schema: cannot write " << path << "\n";
      return 1;
    }
  }
  return 0;
}
