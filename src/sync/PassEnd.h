#pragma once
// How an update pass ends, as a value: the working copy's exit status and whether the window
// waits for EXIT.

#include <optional>

#include "platform/Error.h"

namespace tandor {

// Exit statuses of the working copy.
namespace pass_status {
constexpr int Completed = 0;    // the pass completed and nothing failed
constexpr int EntryFailed = 1;  // a transfer, start or extraction failed (or the user stopped it)
constexpr int NoServer = 2;     // the server or the manifest could not be reached
constexpr int Refused = 3;      // a program of an entry was still open
constexpr int Untrusted = 4;    // the manifest's signature or serial was refused
constexpr int RolledBack = 5;   // the release's final program failed: its files were put back
}  // namespace pass_status

// The status a pass has after `next` happened to one whose status was `sofar`: the first
// failure is the one the pass ends with.
constexpr int Worse(int sofar, int next) {
  return sofar != pass_status::Completed ? sofar : next;
}

// How a pass ended, for the program around it to act on.
struct PassOutcome {
  int Status = pass_status::Completed;
  // The connection failed: the window stays, saying why, until the user closes it.
  bool WaitForExit = false;
  // A failure no step handles (a product folder that cannot be created, a manifest that cannot
  // be stored), for the program to show before it ends.
  std::optional<RuntimeError> Unhandled{};
};

// Ends the pass where it stands, with a status; the pass catches it. Deliberately no
// std::exception, so that no step's failure handler takes it for a failure of its own.
struct Stop {
  int Status;
};

}  // namespace tandor
