// One thread that runs a task when asked and says when it is done; the engine
// keeps one for each thread beside the caller's that shares a sweep or a diffusion
// pass. Between the tasks of a run either side spins briefly before it sleeps.
#pragma once

#include <atomic>
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

  // Runs `task` on the thread; the previous task must be done or withdrawn.
  void Start(std::function<void()> task);
  // Takes the task back if the thread has not begun it (false), else waits for it
  // to return (true). A thread that has not been given a core yet then costs the
  // caller nothing.
  bool WaitOrWithdraw();

 private:
  void Loop();

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::function<void()> m_task;
  // A task is given and has not returned: written under the mutex, read by
  // either side while it spins.
  std::atomic<bool> m_busy{false};
  bool m_bStarted = false;   // the thread has begun it
  bool m_bSleeping = false;  // the thread waits on m_changed for a task
  bool m_bWaiting = false;   // the caller waits on m_changed for the task's return
  bool m_bQuit = false;
  std::thread m_thread;
};
