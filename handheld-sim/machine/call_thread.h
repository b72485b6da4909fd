// One host thread kept for calls made one at a time, so that a call costs a
// hand-over between two threads rather than a thread's creation: the RAPI
// service's calls into a library (a backup makes one per 16 KB it reads)
// run on it. What the handheld's programs see of it: nothing; while a call
// runs, the machine makes the thread one of the handheld's threads.
//
// A call may end the thread (pthread_exit, as a crash or a restart of the
// handheld ends its threads): Run then says so, and the next Run starts a
// new thread.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace nuva::sim {

class CallThread {
  public:
    CallThread() = default;
    // Ends the waiting thread and joins it; no call may be running.
    ~CallThread();
    CallThread(const CallThread&) = delete;
    CallThread& operator=(const CallThread&) = delete;

    // Runs `call` on the thread and waits for its end; `leave` runs on the
    // thread after it, whether the call returned or ended the thread. True
    // when the call returned. One caller at a time.
    bool Run(const std::function<void()>& call, const std::function<void()>& leave);

  private:
    void Serve();

    std::mutex mu_;
    std::condition_variable posted_;  // a call or the end, for the thread
    std::condition_variable done_;    // the call's end, for its caller
    std::thread thread_;
    bool waiting_ = false;  // alive and taking calls
    bool quit_ = false;
    const std::function<void()>* call_ = nullptr;  // posted, not yet taken
    const std::function<void()>* leave_ = nullptr;
    bool finished_ = false;  // the posted call has ended, one way or the other
    bool returned_ = false;  // ... by returning
};

}  // namespace nuva::sim
