#pragma once

#include "UdpTestPeers.h"
#include "flows/MultiConnect.h"
#include "flows/TcpClient.h"

#include <string>
#include <vector>

struct TcpReport
{
    std::size_t bytes = 0;
    roamnode::time_point time;
};

// Listens to a MultiConnect or a TcpClient and keeps what the engine thread reported, so that
// the test thread can wait for it with a bound.
class TcpRecorder : public MultiConnect::Listener,
                    public TcpClient::Listener,
                    public udptest::ReportLog<TcpReport>
{
public:
    using Report = TcpReport;

    void onBytes(std::size_t bytes, roamnode::time_point now) override { add({bytes, now}); }
    // onFailed is the end of a MultiConnect; onClientFailed comes before onClientFinished.
    void onFinished() override { end(); }
    void onFailed(const std::string& reason) override { end(reason); }
    void onClientFailed(const std::string& reason) override
    {
        if (m_clientFailure.empty())
            m_clientFailure = reason;
    }
    void onClientFinished() override { end(m_clientFailure); }

    std::vector<Report> reports() { return frames(); }
    std::size_t totalBytes()
    {
        std::size_t total = 0;
        for (const Report& report : reports())
            total += report.bytes;
        return total;
    }

private:
    std::string m_clientFailure; // the engine thread's alone
};
