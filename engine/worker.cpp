#include "engine/worker.h"

namespace {
// How long either side spins before it sleeps: a task arrives, or returns, within
// microseconds of the last during a run, and a sleeping thread takes tens of
// microseconds to wake.
constexpr int kSpins = 4000;

inline void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}
}  // namespace

CWorkerThread::CWorkerThread() : m_thread([this] { Loop(); }) {}

CWorkerThread::~CWorkerThread() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bQuit = true;
  }
  m_changed.notify_all();
  m_thread.join();
}

void CWorkerThread::Start(std::function<void()> task) {
  bool sleeping;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_task = std::move(task);
    m_bStarted = false;
    m_busy.store(true, std::memory_order_release);
    sleeping = m_bSleeping;
  }
  if (sleeping) m_changed.notify_all();
}

bool CWorkerThread::WaitOrWithdraw() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_busy.load(std::memory_order_relaxed) && !m_bStarted) {
      m_task = nullptr;
      m_busy.store(false, std::memory_order_relaxed);
      return false;
    }
  }
  for (int i = 0; i < kSpins; ++i) {
    if (!m_busy.load(std::memory_order_acquire)) return true;
    Pause();
  }
  std::unique_lock<std::mutex> lock(m_mutex);
  m_bWaiting = true;
  m_changed.wait(lock, [this] { return !m_busy.load(std::memory_order_relaxed); });
  m_bWaiting = false;
  return true;
}

void CWorkerThread::Loop() {
  for (;;) {
    for (int i = 0; i < kSpins && !m_busy.load(std::memory_order_acquire); ++i) Pause();
    std::unique_lock<std::mutex> lock(m_mutex);
    m_bSleeping = true;
    m_changed.wait(lock, [this] {
      return m_bQuit || (m_busy.load(std::memory_order_relaxed) && !m_bStarted);
    });
    m_bSleeping = false;
    if (m_bQuit) return;
    std::function<void()> task = std::move(m_task);
    m_bStarted = true;
    lock.unlock();
    task();
    lock.lock();
    m_busy.store(false, std::memory_order_release);
    if (m_bWaiting) m_changed.notify_all();
  }
}
