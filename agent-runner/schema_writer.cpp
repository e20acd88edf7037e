// The build step that writes the runner's schema documents:
// vorn-runner-schema FOLDER.
#include "agent-runner/protocol/schema_documents.h"
#include "common/schema/document_writer.h"

int main(int argc, char** argv) {
  using namespace VornAgentRunnerMain;
  const vorn::schema::NamedDocument documents[] = {{kRequestSchemaFile, requestDocument()},
                                                   {kAnswerSchemaFile, answerDocument()}};
  return vorn::schema::writeDocumentsMain(argc, argv, documents);
}
