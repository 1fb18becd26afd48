#pragma once
// Command lines in the program's Windows form, "path arguments", turned into a program file and
// an argument vector the way the Windows loader and C runtime read them.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tandor {

class Prefix;

struct ParsedCommandLine {
  std::string Program;                  // the program as written, in Windows form
  std::filesystem::path NativeProgram;  // the file that runs
  std::vector<std::string> Arguments;   // without the program itself
};

// Splits `commandLine` into program and arguments. A quoted first word is the program. Otherwise
// an unquoted path may contain blanks: like the Windows loader, the candidates ending at each
// blank are tried from the shortest on, and the first one that names an existing file (not a
// folder) is the program. When none exists, the program is the first word. Converts the program
// through `prefix`; the arguments stay as they are.
ParsedCommandLine ParseCommandLine(const Prefix& prefix, std::string_view commandLine);

// Splits an argument text by the C runtime's rules: blanks separate words outside quotes, quotes
// group, 2n backslashes before a quote give n backslashes and a quote that groups, 2n+1 give n
// backslashes and a literal quote, "" inside quotes is a literal quote, other backslashes are
// literal.
std::vector<std::string> SplitArguments(std::string_view text);

}  // namespace tandor
