#include "request_worker.h"

#include <system_error>
#include <utility>

namespace countermate {

bool RequestWorker::submit(std::function<void()> job, std::string& error) {
    std::lock_guard<std::mutex> lifecycle(m_lifecycle_lock);
    std::unique_lock<std::mutex> guard(m_lock);
    // The previous job has cleared the busy flag; its reply may still be on its way out.
    m_changed.wait(guard, [this] { return !m_job && !m_job_running; });
    if (!m_thread.joinable()) {
        m_stopping = false;
        try {
            m_thread = std::thread(&RequestWorker::serve, this);
        } catch (const std::system_error& failure) {
            error = failure.what();
            return false;
        }
    }
    m_job = std::move(job);
    m_changed.notify_all();
    return true;
}

void RequestWorker::stop() {
    std::lock_guard<std::mutex> lifecycle(m_lifecycle_lock);
    if (!m_thread.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void RequestWorker::serve() {
    std::unique_lock<std::mutex> guard(m_lock);
    for (;;) {
        m_changed.wait(guard, [this] { return m_job || m_stopping; });
        if (!m_job) return;
        std::function<void()> job;
        job.swap(m_job);
        m_job_running = true;
        guard.unlock();
        job();
        job = nullptr;  // the job's captures go before the next submit can see the worker free
        guard.lock();
        m_job_running = false;
        m_changed.notify_all();
    }
}

}  // namespace countermate
