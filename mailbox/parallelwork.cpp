#include "mailbox/parallelwork.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

void ParallelWork::forEach(std::size_t count, std::size_t threads,
                           const std::function<void(std::size_t)>& each)
{
    std::atomic<std::size_t> next = 0;
    const auto work = [&] {
        for (std::size_t i = next++; i < count; i = next++)
            each(i);
    };
    std::vector<std::thread> helpers;
    for (std::size_t i = 1; i < std::min(threads, count); ++i) {
        try {
            helpers.emplace_back(work);
        }
        catch (const std::system_error&) {
            break;
        }
    }
    work();
    for (std::thread& helper : helpers)
        helper.join();
}
