// The thread that runs accepted requests. It is started once and woken for each request rather
// than created per request: a request that takes a millisecond should not pay for a new thread.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace countermate {

class RequestWorker {
public:
    RequestWorker() = default;
    RequestWorker(const RequestWorker&) = delete;
    RequestWorker& operator=(const RequestWorker&) = delete;
    ~RequestWorker() { stop(); }

    // Hands `job` to the worker, starting its thread on first use. The caller admits one job at
    // a time (the busy flag), so a job handed in never waits behind another for long: at most
    // the previous job's last steps after it cleared the flag. Returns false, with the job not
    // run, when the thread cannot be created; `error` then says why.
    bool submit(std::function<void()> job, std::string& error);

    // Lets the job in hand end, then ends the thread. A later submit starts it again.
    void stop();

private:
    void serve();

    std::mutex m_lifecycle_lock;  // orders the thread's start (submit) and end (stop)
    std::mutex m_lock;            // guards the fields below but m_thread
    std::condition_variable m_changed;
    std::function<void()> m_job;  // handed in, not yet taken by the thread
    bool m_job_running = false;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace countermate
