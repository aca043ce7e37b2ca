#pragma once

#include <boost/asio/buffer.hpp>
#include <boost/system/error_code.hpp>

#include <algorithm>
#include <array>
#include <cstddef>

// One large write of a pattern that repeats a fixed block (an upload or download body), as a
// gather list: whole copies of the block, then a part of it. Nothing is copied, and as long as
// the pattern restarts at every block boundary the bytes are those of that many block writes one
// after the other. Header only: the test server uses it without the engines' library.
namespace roamnode {

// The first `bytes` (at most Copies × size) of the repeated block.
template <std::size_t Copies>
std::array<boost::asio::const_buffer, Copies> repeatedBuffers(const void* block, std::size_t size,
                                                              std::size_t bytes)
{
    std::array<boost::asio::const_buffer, Copies> buffers{};
    for (boost::asio::const_buffer& buffer : buffers) {
        const std::size_t part = std::min(bytes, size);
        buffer = boost::asio::const_buffer(block, part);
        bytes -= part;
    }
    return buffers;
}

// async_write's own conditions hand the socket at most 64 KiB per system call; this one hands it
// up to `limit` bytes, which is what lets one call move a megabyte.
struct WholeWrite
{
    std::size_t limit;
    std::size_t operator()(const boost::system::error_code& error, std::size_t) const
    {
        return error ? 0 : limit;
    }
};

} // namespace roamnode
