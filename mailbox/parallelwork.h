#pragma once

#include <cstddef>
#include <functional>

namespace ParallelWork {

// Calls each(i) for every i below `count`, spread over up to `threads` threads (the caller's among them),
// and returns when all calls are done. A thread the system cannot give is no failure: the threads there are
// do the work. `each` must not throw.
void forEach(std::size_t count, std::size_t threads, const std::function<void(std::size_t)>& each);

} // namespace ParallelWork
