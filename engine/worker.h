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
  bool m_bBusy = false;     // a task is given and has not returned
  bool m_bStarted = false;  // the thread has begun it
  bool m_bQuit = false;
  std::thread m_thread;
};
