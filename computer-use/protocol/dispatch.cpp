#include "computer-use/protocol/dispatch.h"

#include <exception>
#include <nlohmann/json.hpp>

#include "common/text.h"
#include "computer-use/protocol/answers.h"
#include "computer-use/protocol/operation_table.h"

namespace ComputerUseHelperMain {

std::string operationName(const Dictionary& request) {
  auto op = request.find("op");
  std::string name = op != request.end() && op->is_string() ? op->get<std::string>() : "";
  return vorn::text::lowercase(vorn::text::trim(name));
}

Dictionary handle(const Dictionary& request, vorn::platform::Platform& platform) {
  std::string name = operationName(request);
  const Operation* operation = findOperation(name);
  if (operation == nullptr) return {{"ok", false}, {"error", "unknown_op"}, {"op", name}};
  // The last line of defence: nothing unexpected may escape an operation.
  try {
    Context context(platform);
    return operation->serve(request, operation->prerequisite, context);
  } catch (const std::exception& e) {
    return answerOf(vorn::Failure{"internal_error", vorn::text::toValidUtf8(e.what())});
  } catch (...) {
    return answerOf(vorn::Failure{"internal_error", "unexpected failure"});
  }
}

}  // namespace ComputerUseHelperMain
