#pragma once
// The release an update pass installs with Verify=: what it replaces is kept, the final program
// is watched, and a release that fails is put back and refused. Also what a pass that died
// left in the backup folder, finished or undone before anything else is installed.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/Process.h"

namespace tandor {

struct EntryTable;
struct FilesSettings;
struct PassContext;
class Prefix;
class ReleaseBackup;
struct TakenManifest;
class WritePolicy;

// A release as the window and the log name it: "Serial=8", or "SHA256=<digest>".
std::string ReleaseText(const std::string& release);
// The release of a manifest without Serial=, by its SHA-256 in hex.
std::string DigestRelease(const std::string& sha256Hex);
// Whether the machine refused `release` of `product` after it failed there.
bool ReleaseRefused(const Prefix& machine, const std::string& product, const std::string& release);

class ReleaseGuard {
 public:
  ReleaseGuard(PassContext& pass, const WritePolicy& writes);
  ~ReleaseGuard();
  ReleaseGuard(const ReleaseGuard&) = delete;
  ReleaseGuard& operator=(const ReleaseGuard&) = delete;

  // Finishes or undoes what a pass that died left in the product's backup folder; a release
  // a new updater took over stays for the manifest to decide. Stops the pass when the files
  // could not be put back.
  void FinishLast();
  // Goes on with a release a new updater took over when the same release is taken again;
  // otherwise puts its files back.
  void TakeUpHandedOver(const TakenManifest& taken);
  // With Verify=, keeps what the install replaces, so that a failed release can be put back.
  void Begin(const TakenManifest& taken, const EntryTable& table);
  // Keeps `target` before the install replaces or creates it, when the release is kept.
  void Keep(const std::filesystem::path& target);
  // The release being kept goes on in a new updater's pass: true when there is one. TakeBack
  // undoes that when the new updater did not take over.
  bool HandOver();
  void TakeBack();
  // Whether the release that arrived whole is to be watched: it is marked so.
  bool StartWatching();
  // Watches the final program for Verify= seconds: one that fails puts the release back. The
  // status the pass ends with.
  int Verify(std::optional<ProcessId> program, const EntryTable& table, const FilesSettings& files);
  // What a pass that ends before its release was verified does with it.
  void End(int status);

 private:
  // Refuses the release, puts its files back; RolledBack, or EntryFailed when they are not.
  int RollBack(const std::string& reason);
  // Puts the kept files and record back and says `done`; false (said) when it could not.
  bool PutBack(const std::string& done);

  PassContext& mPass;
  const WritePolicy& mWrites;
  std::unique_ptr<ReleaseBackup> mRelease;
  std::string mReleaseName;  // the release being installed, as Serial= or SHA256=
};

}  // namespace tandor
