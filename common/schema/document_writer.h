// The build step that writes a program's schema documents: PROGRAM FOLDER.
// A file whose text is already current is left alone, so its time stamp
// only moves when the operation table does.
#pragma once

#include <nlohmann/json.hpp>
#include <span>
#include <string_view>
#include <utility>

namespace vorn::schema {

/// A document and the file name it is written under.
using NamedDocument = std::pair<std::string_view, nlohmann::json>;

/// The main of a schema writer: writes each of `documents` into the folder
/// its one argument names; 0, 1 when a file cannot be written, 2 on a wrong
/// command line (usage on standard error).
int writeDocumentsMain(int argc, char** argv, std::span<const NamedDocument> documents);

}  // namespace vorn::schema
