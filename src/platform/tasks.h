// Independent pieces of work spread over a few threads: no more threads than
// the processors this process may run on.
#pragma once

#include <cstddef>
#include <functional>

namespace platform {

// The number of threads work is spread over, the calling one included: the
// processors this process may run on, at least 1, at most 16.
std::size_t worker_threads();

// Runs task(0) … task(count - 1), each once, on a pool of threads shared by
// the whole process and on the calling thread; returns when every one has
// finished. In which order and on which thread they run is not fixed: each
// task writes its result to a place of its own. A task may call
// run_parallel itself; a thread that waits runs queued tasks meanwhile. The
// first exception a task throws is thrown again here, once all have ended.
void run_parallel(std::size_t count, const std::function<void(std::size_t)>& task);

// Runs each(0) … each(count - 1) as run_parallel does, in blocks of
// neighbouring indices (a few blocks a thread), for many small pieces.
void for_each_parallel(std::size_t count, const std::function<void(std::size_t)>& each);

}  // namespace platform
