#pragma once
// What an install that may be taken back keeps, and the journal that lets a later pass finish or
// undo it when the pass that made it died on the way.
//
// Layout, in the product's backup folder:
//   Journal            State=, Release=, Record=, Refusal= (written whole, atomically)
//   <release>/Version.ini   the installation record as it was before the install
//   <release>/Kept     one line per file the install replaced or created, in order:
//                      "<n>\t<path>" (the old file is kept as <release>/<n>) or "-\t<path>"
//                      (there was none); a line is complete before its file is touched
//   <release>/<n>      the old files: hard links where the file system allows, else copies
// A line cut short by a crash belongs to a file that was not touched yet, and is ignored.

#include <filesystem>
#include <functional>
#include <set>
#include <string>

namespace tandor {

class ReleaseBackup {
 public:
  enum class State {
    None,         // no journal: nothing is pending
    Installing,   // files are being replaced: an end now undoes them
    HandedOver,   // a new updater took over in the middle: its pass goes on with the release
    Verifying,    // every file is in place and the record with them: the release stays
    RollingBack,  // the release failed: its files go back, and it is refused
  };

  // Whether the pass may write a path at all.
  using PlaceCheck = std::function<bool(const std::filesystem::path&)>;

  // `folder`: the product's backup folder; `record`: the installation record (native paths);
  // `mayWrite`: what a put-back may touch, whatever the list says. Reads the journal a pass left
  // there.
  ReleaseBackup(std::filesystem::path folder, std::filesystem::path record, PlaceCheck mayWrite);

  State Pending() const { return mState; }
  // The release the journal is about ("8" for Serial=8, or "SHA256-" and the manifest's digest).
  const std::string& Release() const { return mRelease; }
  // What a failed release refuses (set with RollingBack).
  const std::string& Refusal() const { return mRefusal; }

  // Starts keeping for `release`: the record as it is now, then the journal (Installing).
  // Throws RuntimeError when they cannot be written.
  void Begin(const std::string& release);
  // Takes up the journal of a pass that handed over to a new updater (Installing again): what it
  // kept stays kept.
  void Resume();
  // Keeps `target` as it is before the install replaces it; each target once, and nothing
  // unless Installing. A folder is not kept. Throws RuntimeError when it cannot be kept: the
  // target must not be replaced then.
  void Keep(const std::filesystem::path& target);
  // Writes the journal with a new state; `refusal` goes with RollingBack. Throws RuntimeError
  // when it cannot be written.
  void SetState(State state, const std::string& refusal = {});
  // Puts every kept file back, removes the files the release created and puts the record back;
  // then the journal and the release's folder go. False when something could not be put back:
  // the journal stays for the next pass, and `problem` says what.
  bool Undo(std::string& problem);
  // The release stays: the journal goes, and the release's folder stays as the backup of the
  // last good release; every older one goes (nothing else in the folder is touched).
  void Commit();

 private:
  std::filesystem::path ReleaseFolder() const;
  std::filesystem::path JournalFile() const { return mFolder / "Journal"; }
  std::filesystem::path KeptList() const { return ReleaseFolder() / "Kept"; }
  void Load();
  void WriteJournal() const;
  void Note(const std::string& name, const std::filesystem::path& target) const;
  // Puts `kept` (a file of the release's folder) back at `target`.
  void PutBack(const std::filesystem::path& kept, const std::filesystem::path& target) const;

  std::filesystem::path mFolder;
  std::filesystem::path mRecord;
  PlaceCheck mMayWrite;
  State mState = State::None;
  std::string mRelease;
  std::string mRefusal;
  bool mHadRecord = false;  // there was a record before the install
  std::set<std::filesystem::path> mKept;
  int mNextName = 0;
};

}  // namespace tandor
