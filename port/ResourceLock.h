// One process per board and per cable: an exclusive lock on a lock file, held while the lock
// object lives. The holder writes its PID into the file, so a process that waits in vain can
// say who holds it.
#pragma once

#include <string>

namespace port {

// How long a process waits for a board or a cable that another process uses (default 5 s).
void SetLockWait(int seconds);
int LockWait();

// The lock file of a device shared by every user of the machine (a parallel port), in
// /run/lock, or the temporary folder where that is missing.
std::string DeviceLockPath(const std::string& name);

// An exclusive lock on `path` (created when missing), waited for up to `waitMs`: a handle for
// UnlockFile, or -1 with errno set; EWOULDBLOCK when another process still holds it, `holder`
// then its PID (0 when unknown). The process's own PID goes into the file.
int LockFile(const std::string& path, int waitMs, int& holder);
void UnlockFile(int handle);
// "process 1234 (tapwright-cli)", or "another process" for PID 0.
std::string DescribeProcess(int pid);

class ResourceLock {
  public:
    ResourceLock() = default;
    ResourceLock(ResourceLock&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
    ResourceLock& operator=(ResourceLock&& other) noexcept;
    ~ResourceLock();
    ResourceLock(const ResourceLock&) = delete;
    ResourceLock& operator=(const ResourceLock&) = delete;

    // Waits up to LockWait(). False with `error` naming `what` and the holder. A lock file
    // that cannot be made at all locks nothing and is no error: the work goes on unguarded.
    bool Acquire(const std::string& path, const std::string& what, std::string& error);

  private:
    int handle_ = -1;
};

// A virtual board's folder (created when missing), locked for as long as `lock` lives: two
// processes on one folder would each save their own copy at exit. A board without a folder
// needs no lock.
bool LockBoardFolder(const std::string& dir, ResourceLock& lock, std::string& error);

}  // namespace port
