#include "IndicationQueue.h"

namespace cimhost {

void IndicationQueue::push(HostIndication indication)
{
    Listener listener;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        listener = listener_;
    }
    if (listener) {
        listener(indication);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(indication));
    ++total_;
    arrived_.notify_all();
}

bool IndicationQueue::waitFor(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return queue_.size() >= count; });
}

std::vector<HostIndication> IndicationQueue::take()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<HostIndication> out;
    out.swap(queue_);
    return out;
}

std::vector<HostIndication> IndicationQueue::snapshot() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_;
}

std::size_t IndicationQueue::size() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

std::size_t IndicationQueue::total() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return total_;
}

void IndicationQueue::setListener(Listener listener)
{
    std::lock_guard<std::mutex> lock(mutex_);
    listener_ = std::move(listener);
}

} // namespace cimhost
