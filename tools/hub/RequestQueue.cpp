#include "RequestQueue.h"

const char* const RequestQueue::kNop = "{\"command\": \"nop\"}";

RequestQueue::RequestQueue(std::vector<std::string> requests)
    : m_requests(requests.begin(), requests.end())
{
}

std::string RequestQueue::next()
{
    if (m_requests.empty())
        return kNop;
    std::string request = std::move(m_requests.front());
    m_requests.pop_front();
    return request;
}
