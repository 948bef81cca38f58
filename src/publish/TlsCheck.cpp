#include "publish/TlsCheck.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

struct FdCloser {
    int fd;
    ~FdCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
};
using CtxPtr = std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)>;
using SslPtr = std::unique_ptr<SSL, decltype(&SSL_free)>;
using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;

// A blocking TCP connection to the endpoint whose reads and writes time out; -1 when there is none.
int connectTo(const TMqttEndpoint& endpoint)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(endpoint.host.c_str(), std::to_string(endpoint.port).c_str(), &hints, &found) != 0)
        return -1;
    int result = -1;
    const int timeoutMs = std::max(1, endpoint.connectTimeoutSeconds) * 1000;
    for (addrinfo* a = found; a && result < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        int error = 0;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                pollfd p{fd, POLLOUT, 0};
                int n;
                do
                    n = ::poll(&p, 1, timeoutMs);
                while (n < 0 && errno == EINTR);
                socklen_t size = sizeof error;
                if (n <= 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
                    error = ETIMEDOUT;
            }
        }
        if (error != 0) {
            ::close(fd);
            continue;
        }
        const timeval limit{endpoint.connectTimeoutSeconds > 0 ? endpoint.connectTimeoutSeconds : 1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        const int flags = ::fcntl(fd, F_GETFL);
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        result = fd;
    }
    ::freeaddrinfo(found);
    return result;
}

// Whether the endpoint answers an MQTT CONNECT sent without TLS with a CONNACK.
bool answersPlainMqtt(const TMqttEndpoint& endpoint)
{
    const FdCloser socket{connectTo(endpoint)};
    if (socket.fd < 0)
        return false;
    // CONNECT, MQTT 3.1.1, clean session, keep-alive 60 s, empty client id.
    static const unsigned char connect[] = {0x10, 0x0C, 0x00, 0x04, 'M',  'Q',  'T',
                                            'T',  0x04, 0x02, 0x00, 0x3C, 0x00, 0x00};
    ssize_t n;
    do
        n = ::send(socket.fd, connect, sizeof connect, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(sizeof connect))
        return false;
    unsigned char answer = 0;
    do
        n = ::recv(socket.fd, &answer, 1, 0);
    while (n < 0 && errno == EINTR);
    return n == 1 && answer == 0x20;
}

std::string lastSslError()
{
    const unsigned long code = ERR_peek_last_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    ERR_clear_error();
    return reason ? reason : "";
}

// The names a certificate is issued for: its DNS and IP subject alternative names, else its common name.
std::string certificateNames(X509* certificate)
{
    std::string names;
    const auto add = [&names](const std::string& name) { names += (names.empty() ? "" : ", ") + name; };
    auto* general = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; general && i < sk_GENERAL_NAME_num(general); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(general, i);
        if (name->type == GEN_DNS) {
            const ASN1_STRING* s = name->d.dNSName;
            add(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)),
                            static_cast<size_t>(ASN1_STRING_length(s))));
        } else if (name->type == GEN_IPADD) {
            const ASN1_STRING* s = name->d.iPAddress;
            char text[INET6_ADDRSTRLEN] = {};
            const int length = ASN1_STRING_length(s);
            if ((length == 4 || length == 16)
                && ::inet_ntop(length == 4 ? AF_INET : AF_INET6, ASN1_STRING_get0_data(s), text, sizeof text))
                add(text);
        }
    }
    GENERAL_NAMES_free(general);
    if (names.empty()) {
        char common[256] = {};
        if (X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, common, sizeof common) > 0)
            add(common);
    }
    return names;
}

bool isAddress(const std::string& host)
{
    unsigned char buffer[16];
    return ::inet_pton(AF_INET, host.c_str(), buffer) == 1 || ::inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

} // namespace

std::string CaFileProblem(const std::string& file)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> in(BIO_new_file(file.c_str(), "r"), BIO_free);
    if (!in) {
        ERR_clear_error();
        return "the CA file " + file + " cannot be read";
    }
    X509Ptr certificate(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr), X509_free);
    ERR_clear_error();
    if (!certificate)
        return "the CA file " + file + " is not a certificate (PEM)";
    return {};
}

std::string TlsConnectProblem(const TMqttEndpoint& endpoint)
{
    if (!endpoint.caFile.empty())
        if (std::string problem = CaFileProblem(endpoint.caFile); !problem.empty())
            return problem;
    CtxPtr ctx(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    if (!ctx)
        return {};
    const bool trustLoaded = endpoint.caFile.empty()
                                 ? SSL_CTX_set_default_verify_paths(ctx.get()) == 1
                                 : SSL_CTX_load_verify_locations(ctx.get(), endpoint.caFile.c_str(), nullptr) == 1;
    if (!trustLoaded && !endpoint.caFile.empty())
        return "the CA file " + endpoint.caFile + " cannot be used (" + lastSslError() + ")";
    if (!endpoint.certFile.empty()
        && (SSL_CTX_use_certificate_chain_file(ctx.get(), endpoint.certFile.c_str()) != 1
            || SSL_CTX_use_PrivateKey_file(ctx.get(), endpoint.keyFile.c_str(), SSL_FILETYPE_PEM) != 1))
        return "the client certificate " + endpoint.certFile + " or its key cannot be used (" + lastSslError() + ")";
    // The chain is judged after the handshake, so that the handshake itself tells the other failures.
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);

    const FdCloser socket{connectTo(endpoint)};
    if (socket.fd < 0)
        return {};
    SslPtr ssl(SSL_new(ctx.get()), SSL_free);
    if (!ssl || SSL_set_fd(ssl.get(), socket.fd) != 1)
        return {};
    if (!isAddress(endpoint.host))
        SSL_set_tlsext_host_name(ssl.get(), endpoint.host.c_str());
    ERR_clear_error();
    if (const int rc = SSL_connect(ssl.get()); rc != 1) {
        const bool timedOut =
            SSL_get_error(ssl.get(), rc) == SSL_ERROR_SYSCALL && (errno == EAGAIN || errno == EWOULDBLOCK);
        const std::string reason = lastSslError();
        if (timedOut)
            return {}; // no answer: the caller says so
        if (answersPlainMqtt(endpoint))
            return "not a TLS port: " + endpoint.address() + " answers MQTT without TLS";
        return "the TLS handshake with " + endpoint.address() + " failed"
               + (reason.empty() ? std::string() : " (" + reason + ")");
    }
    const long verified = SSL_get_verify_result(ssl.get());
    if (verified != X509_V_OK)
        return "the broker's certificate is not trusted (" + std::string(X509_verify_cert_error_string(verified))
               + (endpoint.caFile.empty() ? "; no CA file given, the system's authorities were used)" : ")");
    X509Ptr peer(SSL_get1_peer_certificate(ssl.get()), X509_free);
    if (peer) {
        const int matches = isAddress(endpoint.host)
                                ? X509_check_ip_asc(peer.get(), endpoint.host.c_str(), 0)
                                : X509_check_host(peer.get(), endpoint.host.c_str(), endpoint.host.size(), 0, nullptr);
        if (matches != 1)
            return "host name mismatch: the broker's certificate is not for " + endpoint.host + " (it is for "
                   + certificateNames(peer.get()) + ")";
    }
    SSL_shutdown(ssl.get());
    ERR_clear_error();
    return {};
}

bool SpeaksTls(const TMqttEndpoint& endpoint)
{
    CtxPtr ctx(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    const FdCloser socket{ctx ? connectTo(endpoint) : -1};
    if (socket.fd < 0)
        return false;
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);
    SslPtr ssl(SSL_new(ctx.get()), SSL_free);
    if (!ssl || SSL_set_fd(ssl.get(), socket.fd) != 1)
        return false;
    const bool handshake = SSL_connect(ssl.get()) == 1;
    if (handshake)
        SSL_shutdown(ssl.get());
    ERR_clear_error();
    return handshake;
}
