// One thread that runs a task when asked and says when it is done; the engine
// keeps one for the transport's second band of rows.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class CWorkerThread {
 public:
  CWorkerThread();
  ~CWorkerThread();
  CWorkerThread(const CWorkerThread&) = delete;
  CWorkerThread& operator=(const CWorkerThread&) = delete;

  // Runs `task` on the thread; the previous task must be done (Wait).
  void Start(std::function<void()> task);
  // Blocks until the task given to Start has returned.
  void Wait();

 private:
  void Loop();

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::function<void()> m_task;
  bool m_bBusy = false;
  bool m_bQuit = false;
  std::thread m_thread;
};
