#include "support/ZipTools.h"

#include <iostream>
#include <stdexcept>

#include "support/ProgramRun.h"

namespace tandor::test {

namespace fs = std::filesystem;

int RunTool(const std::vector<std::string>& argv, const fs::path& folder,
            std::chrono::milliseconds timeout) {
  std::vector<std::string> args{"-c", "cd \"$0\" && exec \"$@\"", folder.string()};
  args.insert(args.end(), argv.begin(), argv.end());
  const ProgramResult result =
      RunProgram("/bin/sh", args, {}, std::chrono::ceil<std::chrono::seconds>(timeout));
  std::cerr << result.Err;
  return result.Status;
}

void MakePythonZip(const fs::path& archive, const std::string& script) {
  // Debian's interpreter: the first python3 on PATH may be another one.
  const std::string program =
      "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w')\n" + script + "\nz.close()\n";
  if (RunTool({"/usr/bin/python3", "-c", program, archive.string()}, archive.parent_path()) != 0)
    throw std::runtime_error("python zipfile failed for " + archive.string());
}

void RunInfoZip(const fs::path& folder, const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{"zip"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  if (RunTool(argv, folder) != 0) throw std::runtime_error("zip failed in " + folder.string());
}

}  // namespace tandor::test
