#pragma once
// Real zip tools for tests: Python's zipfile module and the Info-ZIP zip command.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace tandor::test {

// Runs `argv` (argv[0] looked up on PATH) in `folder`, its standard output discarded. Returns the
// exit status (127: the program could not start), or -1 when it died of a signal or was killed
// after `timeout`.
int RunTool(const std::vector<std::string>& argv, const std::filesystem::path& folder,
            std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Writes `archive` with Python's zipfile module: `script` runs with `z`, the open ZipFile, and
// the module `zipfile` in scope. Throws when Python fails.
void MakePythonZip(const std::filesystem::path& archive, const std::string& script);

// Runs the Info-ZIP zip command in `folder` with `arguments`. Throws when zip fails.
void RunInfoZip(const std::filesystem::path& folder, const std::vector<std::string>& arguments);

}  // namespace tandor::test
