// CMemoryBudget: the bytes the image work of the whole process may hold at
// once, shared by every thread, so that threads never multiply the peak.
//
// Before it decodes a file, a task reserves what that file will need at most
// (its bytes, the decoded image and the working images, judged from the size
// the file declares); it waits while others hold the budget and gives the
// bytes back when its result has been taken. A file that needs more than
// the budget can ever give fails at once. Reservations are served in the
// order they were asked for: a large file is not overtaken for ever by small
// ones.
//
// A lasting reservation (the empty image of a batch, held for the whole
// batch) counts against what every other reservation may ask for.
//
// The process's budget (ProcessMemoryBudget) is, unless QUORVEL_MEMORY sets
// it, half of the physical memory the process may use (the machine's, or a
// smaller control-group limit) and half of the address space still free
// under any address-space or data-size limit (RLIMIT_AS, RLIMIT_DATA) once
// the stacks of the worker threads are set aside, whichever is less.
//
// Thread-safe. What a block of pixels or a codec actually allocates is not
// watched: reservations are promises the callers keep.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string_view>

#include "image/Terminable.h"
#include "msg/Result.h"

class CMemoryBudget;

// Bytes held from a budget until Release or destruction. Movable, empty
// when default-made.
class CMemoryReservation {
  public:
    CMemoryReservation() = default;
    ~CMemoryReservation() { Release(); }
    CMemoryReservation(CMemoryReservation&& other) noexcept;
    CMemoryReservation& operator=(CMemoryReservation&& other) noexcept;
    CMemoryReservation(const CMemoryReservation&) = delete;
    CMemoryReservation& operator=(const CMemoryReservation&) = delete;

    std::uint64_t Bytes() const { return m_bytes; }
    // Gives the bytes back (nothing when empty).
    void Release();

  private:
    friend class CMemoryBudget;
    CMemoryBudget* m_budget = nullptr;
    std::uint64_t m_bytes = 0;
    bool m_lasting = false;
};

class CMemoryBudget {
  public:
    explicit CMemoryBudget(std::uint64_t bytes) : m_total(bytes) {}
    CMemoryBudget(const CMemoryBudget&) = delete;
    CMemoryBudget& operator=(const CMemoryBudget&) = delete;

    std::uint64_t Total() const { return m_total; }
    // The most one reservation can get: the total less the lasting ones.
    std::uint64_t Available() const;
    // Held now, and the most ever held at once.
    std::uint64_t Held() const;
    std::uint64_t PeakHeld() const;

    // Reserves `bytes` (replacing what `reservation` held), waiting while
    // they do not fit beside what is held and while earlier requests wait.
    // Results: S_OK; HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY) at once
    // when `bytes` exceed Available(); E_ABORT when `stop` asks to stop
    // while it waits (asked every 50 ms). `reservation` is empty unless
    // S_OK. A reservation of 0 bytes is granted at once.
    HRESULT Reserve(CMemoryReservation& reservation, std::uint64_t bytes,
                    const CTerminable* stop = nullptr);
    // The same without waiting: S_FALSE (reservation empty) when the bytes
    // do not fit now or others wait. `lasting` makes it a lasting
    // reservation.
    HRESULT TryReserve(CMemoryReservation& reservation, std::uint64_t bytes, bool lasting = false);

  private:
    friend class CMemoryReservation;
    // Counts the bytes as held; the lock must be held.
    void Hold(std::uint64_t bytes, bool lasting);
    // Makes `reservation` hold bytes already counted.
    void Fill(CMemoryReservation& reservation, std::uint64_t bytes, bool lasting);
    void Return(std::uint64_t bytes, bool lasting);

    const std::uint64_t m_total;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_held = 0;
    std::uint64_t m_lasting = 0;
    std::uint64_t m_peak = 0;
    std::uint64_t m_nextTicket = 0;
    std::deque<std::uint64_t> m_waiting;  // tickets, in the order asked
};

// The process's budget, made by the first call of MakeProcessMemoryBudget
// or of this (as for one worker thread).
CMemoryBudget& ProcessMemoryBudget();
// Makes the process's budget now, unless it is made already, from
// ProcessMemoryBudgetSetting(workerThreads): early, before threads take
// address space, by a process that will run up to `workerThreads` workers.
void MakeProcessMemoryBudget(int workerThreads);

struct MemoryBudgetSetting {
    std::uint64_t bytes = 0;
    // QUORVEL_MEMORY was set but held no size: the default is used.
    bool invalidEnvironment = false;
};
// QUORVEL_MEMORY when it holds a size (ParseMemorySize), else
// DefaultMemoryBudget(workerThreads).
MemoryBudgetSetting ProcessMemoryBudgetSetting(int workerThreads);
// The default share described above; at least 64 MiB.
std::uint64_t DefaultMemoryBudget(int workerThreads);
// A size: a whole number of MiB, or a whole number followed by K, M, G or T
// (binary units, either case, an optional "B" or "iB" after it). False for
// anything else, zero and overflow included.
bool ParseMemorySize(std::string_view text, std::uint64_t& bytes);
