#pragma once
// Run-time failures that travel to a caller: an error number as the platform knows it, and a text.

#include <stdexcept>
#include <string>

namespace tandor {

namespace err {
constexpr int FileNotFound = 53;
constexpr int PermissionDenied = 70;
constexpr int PathNotFound = 76;
constexpr int PathFileAccess = 75;
constexpr int DialogCancelled = 32755;
}  // namespace err

class RuntimeError : public std::runtime_error {
 public:
  RuntimeError(int number, const std::string& description, int systemError = 0)
      : std::runtime_error(description), mNumber(number), mSystemError(systemError) {}

  int Number() const { return mNumber; }
  std::string Description() const { return what(); }
  // The errno value behind the failure, where one is known: several map to one Number().
  int SystemError() const { return mSystemError; }

 private:
  int mNumber;
  int mSystemError;
};

// Maps an errno value from a failed file operation to the matching run-time error number.
int ErrorNumberFromErrno(int error);

// The system's text for an errno value ("No such file or directory"), as strerror gives it but
// safe on any thread.
std::string ErrnoText(int error);

}  // namespace tandor
