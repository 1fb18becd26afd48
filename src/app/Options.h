#pragma once
// Command-line options: arguments that start with '-' are options, never product names.

#include <string>

namespace tandor {

// Exit statuses of the program besides those of the update pass.
namespace exit_status {
constexpr int Usage = 64;           // an unknown option or one without its value
constexpr int Unavailable = 69;     // the windows cannot be loaded (Qt missing)
constexpr int CannotCreate = 73;    // the prefix or the application folder cannot be created
constexpr int AlreadyRunning = 75;  // --wait: this product's update runs already
}  // namespace exit_status

struct CommandLineOptions {
  enum class Action { Run, Help, Version, Usage };
  Action What = Action::Run;
  bool Wait = false;         // --wait: return the pass's exit status
  std::string ArgumentText;  // the product name or switch, as a role reads it
  std::string Problem;       // what was wrong, for Action::Usage
};

CommandLineOptions ParseOptions(int argc, const char* const* argv);

// The text of --help.
std::string UsageText();

}  // namespace tandor
