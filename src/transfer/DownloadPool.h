#pragma once
// Downloads that run ahead of their caller: worker threads, each with a connection of its own to
// the server, fetch queued files into names of their own beside their targets, while the caller
// works through its own steps in order. The caller takes each download when its turn comes; only
// then does the file get its target's name. Nothing a worker does reaches the window: it only
// counts its bytes for the caller to show.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileIo.h"
#include "transfer/Downloader.h"

namespace tandor {

// The server the workers connect to, as the caller's own connection did.
struct PoolServer {
  std::string Address;
  std::string User;
  std::string Password;
  int Port = 0;
  TransferProtocol Protocol = TransferProtocol::FtpActive;
};

class DownloadPool {
 public:
  // `firstByte`: how long a file of this server took to its first byte on the caller's own
  // connection, if known: the first measure of Patience().
  DownloadPool(FtpOptions options, PoolServer server, int workers,
               std::chrono::steady_clock::duration firstByte = {});
  // Stops every download where it stands, waits for the workers and removes every file that was
  // not taken.
  ~DownloadPool();
  DownloadPool(const DownloadPool&) = delete;
  DownloadPool& operator=(const DownloadPool&) = delete;

  // Queues the download of `request` under the caller's `id`. A part kept for resuming stays
  // where the request's target would keep it.
  void Submit(std::size_t id, DownloadRequest request);
  // Gives up the download `id` where it stands, if the caller did not take it: its file goes.
  void Drop(std::size_t id);
  // Downloads queued and not yet taken or dropped.
  std::size_t Pending() const;
  // A worker failed on this machine (no room, a file that cannot be made): what the caller has
  // not queued yet is better fetched by the caller, one at a time.
  bool Troubled() const { return mTroubled; }

  struct Taken {
    TransferResult Result;
    std::chrono::steady_clock::duration Elapsed{};  // of the transfer itself
    // It failed on the idle rule while the server was sending it, or while the caller waited
    // for it: asked again, it would cost the whole idle limit once more.
    bool Stalled = false;
  };
  // Waits for the download `id` to end, calling `progress` (bytes so far, total or -1) every
  // few milliseconds meanwhile; it may throw, which leaves the pool as it was. A complete file
  // then gets its target's name; throws RuntimeError when the name cannot be given. Nothing, for
  // the caller to download itself, when no worker has started it yet (it is then no longer queued),
  // when the worker failed on this machine (room, files), when the worker's connection has brought
  // no byte of it for longer than Patience() (a server that holds connections over its limit
  // unanswered, or one that lost a command), or when it was never queued.
  std::optional<Taken> Take(std::size_t id,
                            const std::function<void(std::int64_t, std::int64_t)>& progress);

 private:
  enum class State { Queued, Running, Ended, Taken };
  struct Job {
    explicit Job(const std::filesystem::path& target) : Target(target), Staged(target) {}
    DownloadRequest Request;  // its target is Staged's name
    std::filesystem::path Target;
    SiblingFile Staged;
    State Status = State::Queued;
    TransferResult Result;
    std::exception_ptr Failure;
    std::chrono::steady_clock::duration Elapsed{};
    bool Dropped = false;  // while a worker had it: its file goes once it ends
    std::chrono::steady_clock::time_point Started;  // by a worker
    std::atomic<bool> AnyByte{false};  // its connection brought a byte of it (no chunk yet, maybe)
    std::atomic<std::int64_t> Received{0};
    std::atomic<std::int64_t> Total{-1};
  };
  // Thrown inside a worker's transfer when the pool stops.
  struct Stopping {};

  void Work();
  // How long a worker's connection may bring no byte of a file before the caller takes the file
  // back: four times the longest any file here (or the caller's first) took to its first byte,
  // so that on a server that answers in milliseconds a lost file costs about as much as its own
  // fetch; a twelfth of the idle limit while no file has told, and at most that. Under mLock.
  std::chrono::steady_clock::duration Patience() const;
  // A file's first byte (or its end) arrived: what it took counts for Patience().
  void NoteFirstByte(Job& job);
  // The next job for a worker, taken off the queue; nullptr when the pool stops.
  Job* NextJob();
  // True when the worker's connection brought nothing and failed: it takes no more jobs.
  bool Download(Downloader& downloader, Job& job);

  FtpOptions mOptions;
  PoolServer mServer;
  mutable std::mutex mLock;
  std::condition_variable mQueued;  // for the workers: a job, or the pool stops
  std::condition_variable mEnded;   // for the caller: a job ended
  std::map<std::size_t, std::unique_ptr<Job>> mJobs;
  std::deque<Job*> mQueue;
  std::atomic<bool> mStopping{false};
  std::atomic<bool> mTroubled{false};
  std::size_t mTaken = 0;  // jobs the caller has taken
  // The longest a file took from its start to its first byte so far; zero before any did.
  std::chrono::steady_clock::duration mSlowestStart{};
  std::vector<std::thread> mWorkers;
};

}  // namespace tandor
