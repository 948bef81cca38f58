#include "publish/MqttClient.h"

#include "publish/TlsCheck.h"

#include <MQTTAsync.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// The events until clearEvents(). A call holds the lock while it runs, so that clearing waits for one
// in progress and none starts after it.
struct TMqttClient::Relay {
    std::mutex mutex;
    TMqttEvents* events;

    template <typename Call> void operator()(Call call)
    {
        std::lock_guard lock(mutex);
        if (events)
            call(*events);
    }
};

namespace {

TMqttClient::Relay& relayOf(void* context)
{
    return *static_cast<TMqttClient::Relay*>(context);
}

int messageArrived(void*, char* topic, int, MQTTAsync_message* message)
{
    MQTTAsync_freeMessage(&message);
    MQTTAsync_free(topic);
    return 1;
}

void connectionLost(void* context, char*)
{
    relayOf(context)([](TMqttEvents& e) { e.connectionLost(); });
}

void connected(void* context, char*)
{
    relayOf(context)([](TMqttEvents& e) { e.connected(); });
}

void connectFailed(void* context, MQTTAsync_failureData* data)
{
    const int code = data ? data->code : MQTTASYNC_FAILURE;
    const std::string message = data && data->message ? data->message : "";
    relayOf(context)([&](TMqttEvents& e) { e.connectFailed(code, message); });
}

void delivered(void* context, MQTTAsync_successData*)
{
    relayOf(context)([](TMqttEvents& e) { e.delivered(true); });
}

void notDelivered(void* context, MQTTAsync_failureData*)
{
    relayOf(context)([](TMqttEvents& e) { e.delivered(false); });
}

void disconnected(void* context, MQTTAsync_successData*)
{
    relayOf(context)([](TMqttEvents& e) { e.disconnected(); });
}

void notDisconnected(void* context, MQTTAsync_failureData*)
{
    relayOf(context)([](TMqttEvents& e) { e.disconnected(); });
}

// OpenSSL's error line "...:error:<code>:<library>:<function>:<reason>:<file>:<line>:" gives its reason.
int tlsError(const char* text, size_t length, void* context)
{
    const std::string line(text, length);
    std::string reason = line;
    const size_t at = line.find("error:");
    if (at != std::string::npos) {
        size_t start = at;
        for (int field = 0; field < 4 && start != std::string::npos; ++field)
            start = line.find(':', start + 1);
        if (start != std::string::npos) {
            const size_t end = line.find(':', start + 1);
            reason = line.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
        }
    }
    relayOf(context)([&](TMqttEvents& e) { e.tlsError(reason); });
    return 0;
}

// What a plain TCP connection to the broker finds: "" when it connects.
std::string tcpCheck(const TMqttEndpoint& endpoint)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(endpoint.host.c_str(), std::to_string(endpoint.port).c_str(), &hints, &found);
    if (rc != 0)
        return "host " + endpoint.host + " not found (" + ::gai_strerror(rc) + ")";
    std::string result = "cannot connect to " + endpoint.address();
    for (addrinfo* a = found; a; a = a->ai_next) {
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
                    n = ::poll(&p, 1, endpoint.connectTimeoutSeconds * 1000);
                while (n < 0 && errno == EINTR);
                socklen_t size = sizeof error;
                if (n == 0)
                    error = ETIMEDOUT;
                else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
                    error = errno;
            }
        }
        ::close(fd);
        if (error == 0) {
            result.clear();
            break;
        }
        if (error == ECONNREFUSED)
            result = "connection refused by " + endpoint.address();
        else if (error == ETIMEDOUT)
            result = "no answer from " + endpoint.address();
        else
            result = "cannot connect to " + endpoint.address() + " (" + std::strerror(error) + ")";
    }
    ::freeaddrinfo(found);
    return result;
}

} // namespace

TMqttClient::TMqttClient(TMqttEndpoint endpoint, TMqttEvents& events)
    : FEndpoint(std::move(endpoint)), FRelay(new Relay{{}, &events})
{}

TMqttClient::~TMqttClient()
{
    destroy();
}

void TMqttClient::clearEvents()
{
    std::lock_guard lock(FRelay->mutex);
    FRelay->events = nullptr;
}

// The library calls back while it frees its client (failures of what was queued): the events are
// cleared first, and the relay outlives the client.
void TMqttClient::destroy()
{
    clearEvents();
    if (FClient) {
        MQTTAsync client = FClient;
        FClient = nullptr;
        MQTTAsync_destroy(&client);
    }
}

std::string TMqttClient::start(int maxQueued)
{
    const std::string uri =
        (FEndpoint.tls ? "ssl://" : "tcp://")
        + (FEndpoint.host.find(':') != std::string::npos ? "[" + FEndpoint.host + "]" : FEndpoint.host) + ":"
        + std::to_string(FEndpoint.port);
    MQTTAsync_createOptions create = MQTTAsync_createOptions_initializer;
    create.sendWhileDisconnected = 1;
    create.allowDisconnectedSendAtAnyTime = 1;
    create.maxBufferedMessages = maxQueued;
    create.MQTTVersion = MQTTVERSION_3_1_1;
    MQTTAsync client = nullptr;
    int rc = MQTTAsync_createWithOptions(&client, uri.c_str(), FEndpoint.clientId.c_str(), MQTTCLIENT_PERSISTENCE_NONE,
                                         nullptr, &create);
    if (rc != MQTTASYNC_SUCCESS)
        return std::string("the MQTT client cannot be created (") + MQTTAsync_strerror(rc) + ")";
    FClient = client;
    MQTTAsync_setCallbacks(client, FRelay.get(), connectionLost, messageArrived, nullptr);
    MQTTAsync_setConnected(client, FRelay.get(), connected);

    MQTTAsync_connectOptions options = MQTTAsync_connectOptions_initializer;
    options.MQTTVersion = MQTTVERSION_3_1_1;
    options.keepAliveInterval = 20;
    options.cleansession = FEndpoint.cleanSession ? 1 : 0;
    options.connectTimeout = FEndpoint.connectTimeoutSeconds;
    options.automaticReconnect = FEndpoint.autoReconnect ? 1 : 0;
    options.minRetryInterval = 1;
    options.maxRetryInterval = FEndpoint.maxRetrySeconds;
    options.onFailure = connectFailed;
    options.context = FRelay.get();
    if (!FEndpoint.userName.empty()) {
        options.username = FEndpoint.userName.c_str();
        options.password = FEndpoint.password.c_str();
    }
    MQTTAsync_willOptions will = MQTTAsync_willOptions_initializer;
    if (!FEndpoint.willTopic.empty()) {
        will.topicName = FEndpoint.willTopic.c_str();
        will.message = FEndpoint.willPayload.c_str();
        will.retained = 1;
        will.qos = 1;
        options.will = &will;
    }
    MQTTAsync_SSLOptions ssl = MQTTAsync_SSLOptions_initializer;
    if (FEndpoint.tls) {
        ssl.trustStore = FEndpoint.caFile.empty() ? nullptr : FEndpoint.caFile.c_str();
        ssl.keyStore = FEndpoint.certFile.empty() ? nullptr : FEndpoint.certFile.c_str();
        ssl.privateKey = FEndpoint.keyFile.empty() ? nullptr : FEndpoint.keyFile.c_str();
        ssl.enableServerCertAuth = 1;
        ssl.verify = 1;
        ssl.ssl_error_cb = tlsError;
        ssl.ssl_error_context = FRelay.get();
        options.ssl = &ssl;
    }
    rc = MQTTAsync_connect(client, &options);
    if (rc != MQTTASYNC_SUCCESS)
        return std::string("cannot connect (") + MQTTAsync_strerror(rc) + ")";
    return {};
}

bool TMqttClient::send(const std::string& topic, std::string_view payload, int qos, bool retained, bool tracked)
{
    if (!FClient)
        return false;
    MQTTAsync_message message = MQTTAsync_message_initializer;
    message.payload = const_cast<char*>(payload.data());
    message.payloadlen = static_cast<int>(payload.size());
    message.qos = qos;
    message.retained = retained ? 1 : 0;
    MQTTAsync_responseOptions response = MQTTAsync_responseOptions_initializer;
    if (tracked) {
        response.onSuccess = delivered;
        response.onFailure = notDelivered;
        response.context = FRelay.get();
    }
    return MQTTAsync_sendMessage(FClient, topic.c_str(), &message, tracked ? &response : nullptr) == MQTTASYNC_SUCCESS;
}

void TMqttClient::reconnectNow()
{
    if (FClient)
        MQTTAsync_reconnect(FClient);
}

void TMqttClient::disconnect(int timeoutMs)
{
    if (!FClient)
        return;
    MQTTAsync_disconnectOptions options = MQTTAsync_disconnectOptions_initializer;
    options.timeout = timeoutMs;
    options.onSuccess = ::disconnected;
    options.onFailure = notDisconnected;
    options.context = FRelay.get();
    if (MQTTAsync_disconnect(FClient, &options) != MQTTASYNC_SUCCESS)
        (*FRelay)([](TMqttEvents& e) { e.disconnected(); });
}

std::string ConnectFailureText(const TMqttEndpoint& endpoint, int code, const std::string& libraryMessage,
                               const std::string& tlsError)
{
    switch (code) {
    case 1: return "the broker does not accept MQTT 3.1.1";
    case 2: return "the broker refused the client id " + endpoint.clientId;
    case 3: return "the broker is unavailable";
    case 4: return "bad user name or password";
    case 5:
        return endpoint.userName.empty() ? "not authorised: the broker needs a user name and password"
                                         : "not authorised: check the user name and password";
    default: break;
    }
    if (endpoint.tls && !endpoint.caFile.empty())
        if (const std::string problem = CaFileProblem(endpoint.caFile); !problem.empty())
            return "TLS: " + problem;
    const std::string tcp = tcpCheck(endpoint);
    // The library's own words name few TLS failures: a handshake of our own names the rest.
    if (endpoint.tls && tcp.empty())
        if (const std::string problem = TlsConnectProblem(endpoint); !problem.empty())
            return "TLS: " + problem;
    if (endpoint.tls && !tlsError.empty())
        return "TLS: " + tlsError;
    if (!tcp.empty())
        return tcp;
    if (!endpoint.tls && SpeaksTls(endpoint))
        return endpoint.address() + " is a TLS port: the connection needs TLS (mqtts://)";
    if (libraryMessage.find("timeout") != std::string::npos)
        return "no MQTT answer from " + endpoint.address() + " within " + std::to_string(endpoint.connectTimeoutSeconds)
               + " s";
    return libraryMessage.empty() ? "cannot connect to " + endpoint.address() : libraryMessage;
}
