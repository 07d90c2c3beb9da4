// CThread and CThreadImpl: a restartable worker thread with two stop flags.
//
// One CThread object runs one operating-system thread at a time and can be
// started again after that thread has ended, so a single object serves batch
// after batch. Its states:
//   idle      no thread open (never started, or joined by Wait);
//   running   thread open and Run() not yet returned; Start() leaves it alone;
//   ended     thread open, Run() returned; Start() joins it, then starts anew;
//   quit      quit flag set: Start() refuses for good.
//
// Stopping is cooperative: the terminate flag (raised by the owner, cleared
// by every Start that creates a thread) and the quit flag (raised once, when
// the owner shuts down) are only read by the running code through
// IsTerminated(). A thread is never killed and never detached; it is joined
// by Wait, by Start (join before restart) or by the destructor.
//
// Threading: Start, Wait, IsRunning, ThreadId, Priority/SetPriority and
// LastExitCode belong to the owner's thread (one owner per object).
// IsTerminated may be called from any thread; the flag setters from the owner.
// A thread must never Wait on itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "image/Terminable.h"

// Wait time-out meaning "no limit", in milliseconds.
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
// Exit code of a thread that has not ended; also returned by LastExitCode()
// before any thread was joined.
inline constexpr std::uint32_t kStillActive = 259;
// Exit code of a thread whose Run() ended by an exception.
inline constexpr std::uint32_t kExitCodeException = 0xFFFFFFFFu;

// Thread priorities. kThreadPriorityIdle runs the thread under SCHED_IDLE,
// or at nice 19 where SCHED_IDLE is refused. Any other value leaves the
// scheduling the thread inherits from its creator.
inline constexpr int kThreadPriorityNormal = 0;
inline constexpr int kThreadPriorityIdle = -15;

class CThread : public CTerminable {
  public:
    CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;
    // Joins a thread still open (setting the quit flag first) as a last
    // resort. A class that derives from CThreadImpl must call QuitAndJoin()
    // in its own destructor: by the time this one runs, the derived members
    // the thread uses are already gone.
    ~CThread() override;

    // Terminate flag OR quit flag. Safe from any thread.
    bool IsTerminated() const override;

    // The thread's body; its result becomes the thread's exit code.
    virtual std::uint32_t Run() = 0;
    // Returns true when a thread is running after the call: a new one, or
    // the one that was still running (then nothing else is done, not even
    // clearing the terminate flag). An ended thread is joined first. Returns
    // false when the quit flag is set or the thread cannot be created. A new
    // thread has its priority applied before Start returns.
    virtual bool Start() = 0;
    // Blocks up to `timeoutMs` milliseconds (kInfinite: no limit) for the
    // thread to end. If it ended, joins it, records its exit code and clears
    // the handle and the thread id; a timed-out wait changes nothing. No
    // thread open: returns at once.
    virtual void Wait(std::uint32_t timeoutMs) = 0;

    bool IsQuitRequested() const { return m_quit.load(); }
    void SetTerminate(bool terminate) { m_terminate.store(terminate); }
    void SetQuit(bool quit) { m_quit.store(quit); }

    // True while a thread is open and its Run() has not returned.
    bool IsRunning() const;
    // Kernel thread id of the open thread, 0 when none is open.
    std::uint32_t ThreadId() const { return m_threadId; }
    // Priority given to the thread at each start (see kThreadPriority*).
    int Priority() const { return m_priority; }
    void SetPriority(int priority) { m_priority = priority; }
    // Exit code of the last thread joined: Run()'s result, or
    // kExitCodeException; kStillActive when none was joined yet.
    std::uint32_t LastExitCode() const { return m_lastExitCode; }

  protected:
    using ThreadEntry = std::uint32_t (*)(CThread*);

    // The mechanics behind CThreadImpl::Start and ::Wait.
    bool StartThread(ThreadEntry entry);
    void WaitThread(std::uint32_t timeoutMs);
    // Sets the quit flag and joins an open thread without time limit.
    void QuitAndJoin();

  private:
    struct Handle;

    std::atomic<bool> m_terminate{false};
    std::atomic<bool> m_quit{false};
    std::unique_ptr<Handle> m_handle;  // null when no thread is open
    int m_priority = kThreadPriorityNormal;
    std::uint32_t m_threadId = 0;
    std::uint32_t m_lastExitCode = kStillActive;
};

// Supplies Start, Wait and the thread entry for the worker class T (which
// derives from CThreadImpl<T> and overrides Run). The entry runs T::Run and
// turns any exception escaping it into the exit code kExitCodeException;
// nothing else is done about it.
template <class T>
class CThreadImpl : public CThread {
  public:
    bool Start() override { return StartThread(&CThreadImpl::ThreadProc); }
    void Wait(std::uint32_t timeoutMs) override { WaitThread(timeoutMs); }

  private:
    static std::uint32_t ThreadProc(CThread* self) {
        std::uint32_t exitCode = kExitCodeException;
        try {
            exitCode = static_cast<T*>(self)->Run();
        } catch (...) {
            // The worker ends; its task is not reported.
        }
        return exitCode;
    }
};
