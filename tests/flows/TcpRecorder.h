#pragma once

#include "UdpTestPeers.h"
#include "flows/MultiConnect.h"
#include "flows/TcpClient.h"

#include <string>

// What the engine reported (for a PUT, `time` is when the write it reports started) and when the
// report came (for a PUT, when that write completed).
struct TcpReport
{
    std::size_t bytes = 0;
    roamnode::time_point time;
    roamnode::time_point calledAt;
};

// Listens to a MultiConnect or a TcpClient and keeps what the engine thread reported, so that
// the test thread can wait for it with a bound.
class TcpRecorder : public MultiConnect::Listener,
                    public TcpClient::Listener,
                    public udptest::ReportLog<TcpReport>
{
public:
    void onBytes(std::size_t bytes, roamnode::time_point now) override
    {
        add({bytes, now, std::chrono::system_clock::now()});
    }
    // onFailed is the end of a MultiConnect; onClientFailed comes before onClientFinished.
    void onFinished() override { end(); }
    void onFailed(const std::string& reason) override { end(reason); }
    void onClientFailed(const std::string& reason) override
    {
        if (m_clientFailure.empty())
            m_clientFailure = reason;
    }
    void onClientFinished() override { end(m_clientFailure); }

private:
    std::string m_clientFailure; // the engine thread's alone
};
