// The build step that writes the helper's schema documents:
// vorn-cu-schema FOLDER.
#include "common/schema/document_writer.h"
#include "computer-use/protocol/schema_documents.h"

int main(int argc, char** argv) {
  using namespace ComputerUseHelperMain;
  const vorn::schema::NamedDocument documents[] = {{kRequestSchemaFile, requestDocument()},
                                                   {kAnswerSchemaFile, answerDocument()}};
  return vorn::schema::writeDocumentsMain(argc, argv, documents);
}
