#include "image/MemoryBudget.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <mutex>
#include <string>

#if defined(__unix__)
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

constexpr HRESULT kTooLarge = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();

// A number from the first line of a file, or kUnlimited ("max", missing).
std::uint64_t NumberInFile(const char* path) {
    std::ifstream file(path);
    std::uint64_t value = 0;
    return file >> value ? value : kUnlimited;
}

std::uint64_t PhysicalMemory() {
    std::uint64_t bytes = kUnlimited;
#if defined(__unix__)
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0) {
        bytes = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
    }
#endif
#if defined(__linux__)
    // A container's limit (control groups, version 2 or 1) is what counts.
    bytes = std::min({bytes, NumberInFile("/sys/fs/cgroup/memory.max"),
                      NumberInFile("/sys/fs/cgroup/memory/memory.limit_in_bytes")});
#endif
    return bytes;
}

// The address space still free under the tightest address-space or
// data-size limit once `threads` more thread stacks are taken from it;
// kUnlimited without such a limit.
std::uint64_t FreeAddressSpace(int threads) {
    std::uint64_t free = kUnlimited;
#if defined(__unix__)
    std::uint64_t used = 0;
    pthread_attr_t attributes;
    std::size_t stack = 0;
    if (::pthread_attr_init(&attributes) == 0) {
        (void)::pthread_attr_getstacksize(&attributes, &stack);
        ::pthread_attr_destroy(&attributes);
    }
    used += static_cast<std::uint64_t>(std::max(threads, 0)) * stack;
#if defined(__linux__)
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    std::ifstream statm("/proc/self/statm");
    std::uint64_t pages = 0;
    if (statm >> pages && pageSize > 0) {
        used += pages * static_cast<std::uint64_t>(pageSize);
    }
#endif
    for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        rlimit limit{};
        if (::getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
            const auto bytes = static_cast<std::uint64_t>(limit.rlim_cur);
            free = std::min(free, bytes > used ? bytes - used : 0);
        }
    }
#endif
    return free;
}

}  // namespace

CMemoryReservation::CMemoryReservation(CMemoryReservation&& other) noexcept
    : m_budget(other.m_budget), m_bytes(other.m_bytes), m_lasting(other.m_lasting) {
    other.m_budget = nullptr;
    other.m_bytes = 0;
}

CMemoryReservation& CMemoryReservation::operator=(CMemoryReservation&& other) noexcept {
    if (this != &other) {
        Release();
        m_budget = other.m_budget;
        m_bytes = other.m_bytes;
        m_lasting = other.m_lasting;
        other.m_budget = nullptr;
        other.m_bytes = 0;
    }
    return *this;
}

void CMemoryReservation::Release() {
    if (m_budget != nullptr) {
        m_budget->Return(m_bytes, m_lasting);
    }
    m_budget = nullptr;
    m_bytes = 0;
}

std::uint64_t CMemoryBudget::Available() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_total - m_lasting;
}

std::uint64_t CMemoryBudget::Held() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_held;
}

std::uint64_t CMemoryBudget::PeakHeld() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_peak;
}

HRESULT CMemoryBudget::Reserve(CMemoryReservation& reservation, std::uint64_t bytes,
                               const CTerminable* stop) {
    reservation.Release();
    std::unique_lock<std::mutex> lock(m_mutex);
    if (bytes > m_total - m_lasting) {
        return kTooLarge;
    }
    const std::uint64_t ticket = m_nextTicket++;
    m_waiting.push_back(ticket);
    for (;;) {
        if (m_waiting.front() == ticket && bytes <= m_total - m_held) {
            m_waiting.pop_front();
            Hold(bytes, false);
            lock.unlock();
            Fill(reservation, bytes, false);
            // The next in line may fit too.
            m_changed.notify_all();
            return S_OK;
        }
        if (StopRequested(stop)) {
            m_waiting.erase(std::find(m_waiting.begin(), m_waiting.end(), ticket));
            lock.unlock();
            m_changed.notify_all();
            return E_ABORT;
        }
        m_changed.wait_for(lock, std::chrono::milliseconds(50));
    }
}

HRESULT CMemoryBudget::TryReserve(CMemoryReservation& reservation, std::uint64_t bytes,
                                  bool lasting) {
    reservation.Release();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (bytes > m_total - m_lasting) {
            return kTooLarge;
        }
        if (!m_waiting.empty() || bytes > m_total - m_held) {
            return S_FALSE;
        }
        Hold(bytes, lasting);
    }
    Fill(reservation, bytes, lasting);
    return S_OK;
}

void CMemoryBudget::Hold(std::uint64_t bytes, bool lasting) {
    m_held += bytes;
    m_peak = std::max(m_peak, m_held);
    if (lasting) {
        m_lasting += bytes;
    }
}

void CMemoryBudget::Fill(CMemoryReservation& reservation, std::uint64_t bytes, bool lasting) {
    reservation.m_budget = this;
    reservation.m_bytes = bytes;
    reservation.m_lasting = lasting;
}

void CMemoryBudget::Return(std::uint64_t bytes, bool lasting) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held -= bytes;
        if (lasting) {
            m_lasting -= bytes;
        }
    }
    m_changed.notify_all();
}

bool ParseMemorySize(std::string_view text, std::uint64_t& bytes) {
    std::size_t digits = 0;
    std::uint64_t number = 0;
    for (; digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]));
         ++digits) {
        if (number > (kUnlimited - 9) / 10) {
            return false;
        }
        number = number * 10 + static_cast<std::uint64_t>(text[digits] - '0');
    }
    std::string unit(text.substr(digits));
    std::transform(unit.begin(), unit.end(), unit.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    int shift = 20;
    if (!unit.empty()) {
        const std::string_view units = "KMGT";
        const std::size_t at = units.find(unit.front());
        const std::string_view rest = std::string_view(unit).substr(1);
        if (at == std::string_view::npos || (!rest.empty() && rest != "B" && rest != "IB")) {
            return false;
        }
        shift = 10 * (static_cast<int>(at) + 1);
    }
    if (digits == 0 || number == 0 || number > (kUnlimited >> shift)) {
        return false;
    }
    bytes = number << shift;
    return true;
}

std::uint64_t DefaultMemoryBudget(int workerThreads) {
    const std::uint64_t physical = PhysicalMemory();
    const std::uint64_t address = FreeAddressSpace(workerThreads);
    const std::uint64_t share = std::min(physical == kUnlimited ? kUnlimited : physical / 2,
                                         address == kUnlimited ? kUnlimited : address / 2);
    if (share == kUnlimited) {
        return std::uint64_t{4} << 30;  // nothing known: a modest machine's share
    }
    return std::max(share, 64 * kMiB);
}

MemoryBudgetSetting ProcessMemoryBudgetSetting(int workerThreads) {
    MemoryBudgetSetting setting;
    const char* text = std::getenv("QUORVEL_MEMORY");
    if (text != nullptr && *text != '\0') {
        if (ParseMemorySize(text, setting.bytes)) {
            return setting;
        }
        setting.invalidEnvironment = true;
    }
    setting.bytes = DefaultMemoryBudget(workerThreads);
    return setting;
}

namespace {

// Made once, never destroyed: reservations may be given back at exit.
std::atomic<CMemoryBudget*> g_processBudget{nullptr};

CMemoryBudget& MakeOnce(int workerThreads) {
    static std::once_flag once;
    std::call_once(once, [workerThreads] {
        g_processBudget = new CMemoryBudget(ProcessMemoryBudgetSetting(workerThreads).bytes);
    });
    return *g_processBudget.load();
}

}  // namespace

void MakeProcessMemoryBudget(int workerThreads) {
    (void)MakeOnce(workerThreads);
}

CMemoryBudget& ProcessMemoryBudget() {
    return MakeOnce(1);
}
