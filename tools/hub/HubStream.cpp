#include "HubStream.h"

#include "heartbeat/TlsClientContext.h"

#include <boost/asio/write.hpp>

#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace asio = boost::asio;
using asio::ip::tcp;

HubStream::HubStream(tcp::socket socket) : m_plain(std::make_unique<tcp::socket>(std::move(socket)))
{
}

HubStream::HubStream(tcp::socket socket, asio::ssl::context& tls)
    : m_tls(std::make_unique<asio::ssl::stream<tcp::socket>>(std::move(socket), tls))
{
}

tcp::socket& HubStream::socket()
{
    return m_tls ? m_tls->next_layer() : *m_plain;
}

void HubStream::handshake(std::function<void(const boost::system::error_code&)> handler)
{
    m_tls->async_handshake(asio::ssl::stream_base::server, std::move(handler));
}

void HubStream::readSome(asio::mutable_buffer buffer, Handler handler)
{
    if (m_tls)
        m_tls->async_read_some(buffer, std::move(handler));
    else
        m_plain->async_read_some(buffer, std::move(handler));
}

void HubStream::write(asio::const_buffer buffer, Handler handler)
{
    if (m_tls)
        asio::async_write(*m_tls, buffer, std::move(handler));
    else
        asio::async_write(*m_plain, buffer, std::move(handler));
}

std::string HubStream::peerSubject() const
{
    if (!m_tls)
        return {};
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
    X509* certificate = SSL_get1_peer_certificate(m_tls->native_handle());
#else
    X509* certificate = SSL_get_peer_certificate(m_tls->native_handle());
#endif
    if (!certificate)
        return {};
    std::string subject;
    if (BIO* bio = BIO_new(BIO_s_mem())) {
        X509_NAME_print_ex(bio, X509_get_subject_name(certificate), 0, XN_FLAG_RFC2253);
        char* data = nullptr;
        const long size = BIO_get_mem_data(bio, &data);
        subject.assign(data, static_cast<std::size_t>(size > 0 ? size : 0));
        BIO_free(bio);
    }
    X509_free(certificate);
    return subject;
}

std::string HubStream::handshakeFailure(const boost::system::error_code& error) const
{
    const long verify = m_tls ? SSL_get_verify_result(m_tls->native_handle()) : X509_V_OK;
    if (verify != X509_V_OK)
        return std::string("endpoint certificate not accepted: ") +
               X509_verify_cert_error_string(verify);
    return roamnode::tlsErrorText(error);
}
