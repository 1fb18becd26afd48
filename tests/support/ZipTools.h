#pragma once
// Real zip tools for tests (Python's zipfile, Info-ZIP zip); both throw when the tool fails.

#include <filesystem>
#include <string>
#include <vector>

namespace tandor::test {

// Writes `archive` with Python's zipfile module: `script` runs with `z`, the open ZipFile, and
// the module `zipfile` in scope.
void MakePythonZip(const std::filesystem::path& archive, const std::string& script);

// Runs the Info-ZIP zip command in `folder` with `arguments`.
void RunInfoZip(const std::filesystem::path& folder, const std::vector<std::string>& arguments);

}  // namespace tandor::test
