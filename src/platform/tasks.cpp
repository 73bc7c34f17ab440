#include "platform/tasks.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <sched.h>

namespace platform {

namespace {

// One call of run_parallel: the tasks not yet claimed and those not yet done.
struct Batch {
    const std::function<void(std::size_t)>* task;
    std::size_t count;
    std::size_t next = 0;
    std::size_t done = 0;
    std::exception_ptr error;
};

class Pool {
public:
    // Starts up to `workers` threads: when the system refuses one, the pool
    // works with those it has (none at all: the waiting caller runs every task).
    explicit Pool(std::size_t workers) {
        threads_.reserve(workers);
        for (std::size_t i = 0; i < workers; ++i) {
            try {
                threads_.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                break;
            }
        }
    }
    ~Pool() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        for (auto& thread : threads_) thread.join();
    }
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    void run(Batch& batch) {
        std::unique_lock lock(mutex_);
        open_.push_back(&batch);
        changed_.notify_all();
        while (batch.done < batch.count) {
            if (!run_one(lock)) changed_.wait(lock);
        }
    }

private:
    // Runs one task of the newest batch, so that nested work is finished
    // first; false when no task is waiting.
    bool run_one(std::unique_lock<std::mutex>& lock) {
        if (open_.empty()) return false;
        Batch& batch = *open_.back();
        const std::size_t index = batch.next++;
        if (batch.next == batch.count) open_.pop_back();
        lock.unlock();
        std::exception_ptr error;
        try {
            (*batch.task)(index);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        if (error && !batch.error) batch.error = error;
        if (++batch.done == batch.count) changed_.notify_all();
        return true;
    }

    void work() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            if (!run_one(lock)) changed_.wait(lock);
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;  // work queued, a batch finished, or the end
    std::vector<Batch*> open_;         // batches with tasks not yet claimed
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

Pool& shared_pool() {
    static Pool pool(worker_threads() - 1);
    return pool;
}

std::size_t count_workers() {
    std::size_t cores = 0;
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) == 0) cores = static_cast<std::size_t>(CPU_COUNT(&set));
    if (cores == 0) cores = std::thread::hardware_concurrency();
    return std::clamp<std::size_t>(cores, 1, 16);
}

}  // namespace

std::size_t worker_threads() {
    static const std::size_t count = count_workers();
    return count;
}

void run_parallel(std::size_t count, const std::function<void(std::size_t)>& task) {
    if (count == 0) return;
    Batch batch{&task, count, 0, 0, {}};
    if (count == 1 || worker_threads() == 1) {
        for (std::size_t i = 0; i < count; ++i) {
            try {
                task(i);
            } catch (...) {
                if (!batch.error) batch.error = std::current_exception();
            }
        }
    } else {
        shared_pool().run(batch);
    }
    if (batch.error) std::rethrow_exception(batch.error);
}

void for_each_parallel(std::size_t count, const std::function<void(std::size_t)>& each) {
    constexpr std::size_t least = 16;  // below this a block is not worth a hand-over
    const std::size_t size = std::max(least, count / (worker_threads() * 4) + 1);
    run_parallel((count + size - 1) / size, [&](std::size_t block) {
        const std::size_t end = std::min(count, (block + 1) * size);
        for (std::size_t i = block * size; i < end; ++i) each(i);
    });
}

}  // namespace platform
