#include "support/ZipTools.h"

#include <stdexcept>

#include "support/ProgramRun.h"

namespace tandor::test {

namespace fs = std::filesystem;

static void RunIn(const fs::path& folder, const std::string& program,
                  const std::vector<std::string>& arguments) {
  std::vector<std::string> args{"-c", "cd \"$0\" && exec \"$@\"", folder.string(), program};
  args.insert(args.end(), arguments.begin(), arguments.end());
  const ProgramResult result = RunProgram("/bin/sh", args, {});
  if (result.Status != 0) throw std::runtime_error(program + " failed: " + result.Err);
}

void MakePythonZip(const fs::path& archive, const std::string& script) {
  // Debian's interpreter: the first python3 on PATH may be another one.
  RunIn(archive.parent_path(), "/usr/bin/python3",
        {"-c",
         "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w')\n" + script + "\nz.close()",
         archive.string()});
}

void RunInfoZip(const fs::path& folder, const std::vector<std::string>& arguments) {
  RunIn(folder, "zip", arguments);
}

}  // namespace tandor::test
