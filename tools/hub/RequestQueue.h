#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

// The requests the hub hands out, one per exchange, in order; "nop" once they are used up.
class RequestQueue
{
public:
    explicit RequestQueue(std::vector<std::string> requests);

    std::string next();
    std::size_t remaining() const { return m_requests.size(); }

    static const char* const kNop;

private:
    std::deque<std::string> m_requests;
};
