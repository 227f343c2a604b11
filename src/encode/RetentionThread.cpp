// The retention thread.
//
// Waits on: the encoder's news of a new file (FilesInUse), or a minute.
// Owns: the Retention (its walks and its warned-once state); it shares only
// FilesInUse with the encoder. Runs both rules at once when it starts (old
// files go at the start, not first at the next file), both again with each
// new file, and --keep-free alone once a minute.
// Ends: when FilesInUse is stopped (the destructor), at the next entry of a
// walk or the next wait.
#include "encode/RetentionThread.h"

#include "encode/Retention.h"
#include "platform/Threads.h"

namespace vorta {
namespace {

constexpr int kKeepFreeEveryMs = 60 * 1000;

}  // namespace

bool wantsRetention(const Settings& s) {
  return !s.namePattern.empty() && (s.keepDays > 0 || s.keepFreeBytes > 0 || s.keepFreePercent > 0);
}

RetentionThread::RetentionThread(FileSystem& files, const Settings& settings, Clock& clock,
                                 FilesInUse& inUse, const Reporter& reporter,
                                 ThreadPriorities priorities)
    : inUse_(inUse), thread_([&files, &settings, &clock, &inUse, &reporter, priorities] {
        nameCurrentThread("vorta-retention");
        // Not the raised level of the thread that made it.
        priorities.setCurrent(PriorityLevel::Normal);
        Retention retention(files, settings, inUse, reporter);
        // The sweep at the start covers the first file, whose news may be in.
        static_cast<void>(inUse.waitForNewFile(0));
        for (bool newFile = true; !inUse.stopping();
             newFile = inUse.waitForNewFile(kKeepFreeEveryMs)) {
          if (newFile) retention.deleteOld(clock.wallNow());
          retention.keepFree();
        }
      }) {}

RetentionThread::~RetentionThread() {
  inUse_.stop();
  if (thread_.joinable()) thread_.join();
}

}  // namespace vorta
