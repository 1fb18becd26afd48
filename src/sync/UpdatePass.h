#pragma once
// The working copy's update pass: wait for the launcher, select a server, trust and choose the
// manifest, plan its entries, install each chosen one in manifest order and note it in the
// installation record, replace the updater when the manifest carries a new one, verify the
// release, and start the product.

#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "platform/Process.h"
#include "sync/PassEnd.h"
#include "sync/PassEnvironment.h"

namespace tandor {

struct EntryTable;
class EntryInstaller;
enum class EntryOutcome;
struct FileEntry;
struct FilesSettings;
class InstallationRecord;
struct PassContext;
class ReleaseGuard;
class WritePolicy;

class UpdatePass {
 public:
  explicit UpdatePass(PassEnvironment environment);
  ~UpdatePass();
  UpdatePass(const UpdatePass&) = delete;
  UpdatePass& operator=(const UpdatePass&) = delete;

  // Runs the pass and says how it ended. It ends early when the window asks to (EXIT, the close
  // box), at the first chance the window gets to say so. Only a new updater that takes over
  // does not come back: ReplaceProgram replaces the program.
  PassOutcome Sync();

 private:
  PassOutcome Run();
  // Closes the connection and the log and hides the window, then finishes.
  PassOutcome End();
  // Puts what the pass leaves on disk (record, settings, log) in order and takes away what a
  // transfer or an extraction cut short left behind.
  PassOutcome Finish(int status);
  // Hands the pass over to the new updater the entry installed; comes back only when it could
  // not take over.
  void HandOver(const FileEntry& entry);
  // Takes away what killed passes left behind in the folders this pass works in.
  // Each folder once a pass.
  void RemoveStaleTemporaries(const EntryTable& table);
  // The same in the folders of the manifest the machine kept from its last pass, before any
  // server is asked: a pass that reaches none (or whose manifest is refused) clears them too.
  void RemoveStaleTemporariesOfKeptManifest();
  // Starts the final program of a pass that installs nothing, when its file is there.
  void StartHeldProgram(const EntryTable& table, const FilesSettings& files);
  // The final program's process; nothing when nothing was started, nor when its entry failed
  // before or in its download (`outcomes`: those of the entries installed so far).
  std::optional<ProcessId> StartFinalProgram(const EntryTable& table, const FilesSettings& files,
                                             const std::vector<EntryOutcome>& outcomes);

  std::unique_ptr<PassContext> mPass;
  std::unique_ptr<WritePolicy> mWrites;
  std::unique_ptr<ReleaseGuard> mRelease;
  std::set<std::filesystem::path> mSwept;  // folders cleared of what killed passes left
  std::unique_ptr<InstallationRecord> mRecord;
  std::unique_ptr<EntryInstaller> mInstaller;
};

}  // namespace tandor
