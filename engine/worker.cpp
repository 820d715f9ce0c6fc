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
  }
  m_changed.notify_all();
}

void CWorkerThread::Wait() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait(lock, [this] { return !m_bBusy; });
}

void CWorkerThread::Loop() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_changed.wait(lock, [this] { return m_bQuit || m_bBusy; });
    if (m_bQuit) return;
    std::function<void()> task = std::move(m_task);
    lock.unlock();
    task();
    lock.lock();
    m_bBusy = false;
    m_changed.notify_all();
  }
}
