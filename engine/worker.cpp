#include "engine/worker.h"

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
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_task = std::move(task);
    m_bBusy = true;
    m_bStarted = false;
  }
  m_changed.notify_all();
}

bool CWorkerThread::WaitOrWithdraw() {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (m_bBusy && !m_bStarted) {
    m_task = nullptr;
    m_bBusy = false;
    return false;
  }
  m_changed.wait(lock, [this] { return !m_bBusy; });
  return true;
}

void CWorkerThread::Loop() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_changed.wait(lock, [this] { return m_bQuit || m_bBusy; });
    if (m_bQuit) return;
    std::function<void()> task = std::move(m_task);
    m_bStarted = true;
    lock.unlock();
    task();
    lock.lock();
    m_bBusy = false;
    m_changed.notify_all();
  }
}
