#pragma once

#include <boost/asio/ssl/context.hpp>

#include <memory>
#include <string>

namespace roamnode {

// The PEM files of an endpoint that talks to its hub over TLS.
struct TlsFiles
{
    std::string ca;   // the CA that signed the hub's certificate
    std::string cert; // this endpoint's certificate (chain)
    std::string key;  // its private key
};

// Where the service and the GUI look when no files are named: /etc/roamnode/tls/.
TlsFiles defaultTlsFiles();

// The endpoint's TLS settings for the heartbeat: TLS 1.3 only, the hub's certificate verified
// against the CA, this endpoint's certificate offered for the hub to verify.
//
// Threads: built on the main thread before the heartbeat starts; afterwards only the session
// thread uses it (one exchange at a time), so the OpenSSL context is never shared between two
// handshakes at once.
class TlsClientContext
{
public:
    // Null, with `error` naming the file and the reason, when a file cannot be used.
    static std::shared_ptr<TlsClientContext> create(const TlsFiles& files, std::string& error);

    boost::asio::ssl::context& context() { return m_context; }

private:
    TlsClientContext();
    boost::asio::ssl::context m_context;
};

// OpenSSL's reason for an error of the SSL category, without the library's name; the error's
// own message for any other.
std::string tlsErrorText(const boost::system::error_code& error);

} // namespace roamnode
