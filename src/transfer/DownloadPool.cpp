#include "transfer/DownloadPool.h"

#include <algorithm>
#include <utility>

#include "platform/Error.h"
#include "platform/FileIo.h"
#include "transfer/InternetError.h"

namespace tandor {

namespace {

// How often a caller waiting for a download hears of its progress.
constexpr auto kProgressInterval = std::chrono::milliseconds(20);

// A failure of the connection itself, before any byte: the server will not serve this one.
bool ConnectionRefusedService(const TransferResult& result, bool anyByte) {
  if (result.Status != TransferResult::State::Failed || anyByte) return false;
  switch (result.Code) {
    case inet::Timeout:
    case inet::CannotConnect:
    case inet::ConnectionAborted:
    case inet::ConnectionReset:
      return true;
    default:
      return false;
  }
}

}  // namespace

DownloadPool::DownloadPool(FtpOptions options, PoolServer server, int workers,
                           std::chrono::steady_clock::duration firstByte)
    : mOptions(std::move(options)), mServer(std::move(server)), mSlowestStart(firstByte) {
  for (int i = 0; i < workers; ++i) mWorkers.emplace_back([this] { Work(); });
}

DownloadPool::~DownloadPool() {
  {
    std::lock_guard hold(mLock);
    mStopping = true;
  }
  mQueued.notify_all();
  for (std::thread& worker : mWorkers) worker.join();
  // What was not taken goes with its job.
}

void DownloadPool::Submit(std::size_t id, DownloadRequest request) {
  auto job = std::make_unique<Job>(request.Target);
  if (request.Partial.empty()) (request.Partial = request.Target) += ".partial";
  request.Target = job->Staged.Path();
  job->Request = std::move(request);
  {
    std::lock_guard hold(mLock);
    mQueue.push_back(job.get());
    mJobs[id] = std::move(job);
  }
  mQueued.notify_one();
}

std::size_t DownloadPool::Pending() const {
  std::lock_guard hold(mLock);
  return mJobs.size() - mTaken;
}

std::optional<DownloadPool::Taken> DownloadPool::Take(
    std::size_t id, const std::function<void(std::int64_t, std::int64_t)>& progress) {
  Job* job = nullptr;
  bool stalled = false;
  {
    std::unique_lock hold(mLock);
    const auto found = mJobs.find(id);
    if (found == mJobs.end()) return std::nullopt;
    job = found->second.get();
    if (job->Status == State::Queued) {
      // No worker got to it yet: the caller's own connection is as quick.
      std::erase(mQueue, job);
      mJobs.erase(found);
      return std::nullopt;
    }
    // The caller's own connection does no worse than one that brought nothing for this long;
    // the worker's file goes when it ends. Under a rate cap a worker may wait its turn that long.
    const auto waiting = std::chrono::steady_clock::now();
    while (job->Status != State::Ended) {
      if (!job->AnyByte && !mOptions.DownloadRate &&
          std::chrono::steady_clock::now() - job->Started > Patience()) {
        job->Dropped = true;
        job->Status = State::Taken;
        ++mTaken;
        return std::nullopt;
      }
      hold.unlock();
      progress(job->Received, job->Total);
      hold.lock();
      mEnded.wait_for(hold, kProgressInterval, [&] { return job->Status == State::Ended; });
    }
    job->Status = State::Taken;
    ++mTaken;
    stalled = job->Result.Status == TransferResult::State::Failed &&
              job->Result.Code == inet::Timeout &&
              (job->AnyByte || std::chrono::steady_clock::now() - waiting > Patience());
  }
  progress(job->Received, job->Total);
  if (job->Failure) {
    // What failed here (no room, mostly) may not once the files before it are in place.
    job->Staged.Remove();
    mTroubled = true;
    return std::nullopt;
  }
  if (job->Result.Done()) job->Staged.RenameTo(job->Target);
  job->Staged.Remove();  // what failed
  return Taken{job->Result, job->Elapsed, stalled};
}

std::chrono::steady_clock::duration DownloadPool::Patience() const {
  constexpr auto kLeast = std::chrono::milliseconds(100);
  const std::chrono::steady_clock::duration most = mOptions.IdleTimeout / 12;
  if (mSlowestStart == std::chrono::steady_clock::duration::zero()) return most;
  return std::clamp<std::chrono::steady_clock::duration>(4 * mSlowestStart, kLeast, most);
}

void DownloadPool::NoteFirstByte(Job& job) {
  if (job.AnyByte.exchange(true)) return;
  mSlowestStart = std::max(mSlowestStart, std::chrono::steady_clock::now() - job.Started);
}

void DownloadPool::Drop(std::size_t id) {
  std::unique_lock hold(mLock);
  const auto found = mJobs.find(id);
  if (found == mJobs.end() || found->second->Status == State::Taken) return;
  Job& job = *found->second;
  ++mTaken;
  switch (std::exchange(job.Status, State::Taken)) {
    case State::Queued:
      std::erase(mQueue, &job);
      break;
    case State::Running:
      job.Dropped = true;
      return;
    default:
      break;
  }
  job.Staged.Remove();
}

DownloadPool::Job* DownloadPool::NextJob() {
  std::unique_lock hold(mLock);
  mQueued.wait(hold, [this] { return mStopping || !mQueue.empty(); });
  if (mStopping) return nullptr;
  Job* job = mQueue.front();
  mQueue.pop_front();
  job->Status = State::Running;
  job->Started = std::chrono::steady_clock::now();
  return job;
}

void DownloadPool::Work() {
  Job* current = nullptr;
  FtpEvents events;
  const auto stopIfAsked = [this] {
    if (mStopping) throw Stopping{};
  };
  events.ProcessPendingMessages = stopIfAsked;
  events.WaitingForData = stopIfAsked;
  events.BytesArrived = [this, &current](std::int64_t bytes) {
    if (bytes <= 0 || current->AnyByte) return;
    std::lock_guard hold(mLock);
    NoteFirstByte(*current);
  };
  events.FileTransferProgress = [&current](std::int64_t received, std::int64_t total) {
    current->Received = received;
    current->Total = total;
  };
  Downloader downloader(std::move(events), mOptions, mServer.Protocol);
  bool connected = false;
  try {
    connected =
        downloader.Open(mServer.Address, mServer.User, mServer.Password, mServer.Port).Done();
  } catch (const Stopping&) {
  }
  if (!connected) {
    // A server that takes fewer connections than asked for: the others do the work, and the
    // caller takes what nobody started.
    return;
  }
  // A server that holds connections over its limit unanswered fails them in the end: such a
  // worker takes no more jobs, so the others and the caller do the work.
  while ((current = NextJob()) != nullptr)
    if (Download(downloader, *current)) break;
  downloader.Close();
}

bool DownloadPool::Download(Downloader& downloader, Job& job) {
  const auto start = std::chrono::steady_clock::now();
  TransferResult result;
  std::exception_ptr failure;
  try {
    result = downloader.Download(job.Request);
  } catch (const Stopping&) {
    result = {TransferResult::State::Failed, 0, "stopped"};
  } catch (...) {
    failure = std::current_exception();
  }
  const bool unserved = ConnectionRefusedService(result, job.AnyByte);
  std::unique_lock hold(mLock);
  job.Result = std::move(result);
  job.Failure = failure;
  job.Elapsed = std::chrono::steady_clock::now() - start;
  if (job.Result.Done()) NoteFirstByte(job);  // an empty file among them
  if (job.Dropped) {
    job.Staged.Remove();
    return unserved;
  }
  job.Status = State::Ended;
  hold.unlock();
  mEnded.notify_one();
  return unserved;
}

}  // namespace tandor
