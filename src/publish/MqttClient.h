#pragma once
#include <memory>
#include <string>
#include <string_view>

// Where and how to connect to a broker.
struct TMqttEndpoint {
    std::string host;
    int port = 1883;
    bool tls = false;
    std::string caFile, certFile, keyFile; // empty CA file: the system's trusted authorities
    std::string userName, password;
    std::string clientId;
    std::string willTopic, willPayload; // retained, QoS 1; no will when the topic is empty
    int connectTimeoutSeconds = 10;
    bool autoReconnect = true; // first retry 1 s after a failure, doubling up to maxRetrySeconds
    int maxRetrySeconds = 60;
    bool cleanSession = false; // a kept session lets messages in flight survive a reconnect

    std::string address() const { return host + ":" + std::to_string(port); }
};

// What the client reports. The calls come on the library's threads (and on the thread that destroys the
// client): keep them short and never call back into the client from them.
class TMqttEvents {
public:
    virtual ~TMqttEvents() = default;
    virtual void connected() = 0;
    virtual void connectionLost() = 0;
    // A connection attempt failed; `why` is a short explanation for the operator (see ConnectFailureText).
    virtual void connectFailed(int code, const std::string& libraryMessage) = 0;
    virtual void tlsError(const std::string& reason) = 0;
    // A message sent with `tracked` completed (QoS 1: acknowledged; QoS 0: written) or was given up.
    virtual void delivered(bool ok) = 0;
    // A disconnect() finished.
    virtual void disconnected() {}
};

// One connection through the Paho asynchronous client: sends go to the library's queue and return at
// once; the library keeps them while disconnected and reconnects by itself.
//
// The library calls back on its own threads until its client is destroyed, and even during that (for
// what was still queued). An owner whose events object holds state of its own ends in this order: stop
// its own threads, destroy() (no event reaches it from then on), then free the rest.
class TMqttClient {
public:
    TMqttClient(TMqttEndpoint endpoint, TMqttEvents& events);
    ~TMqttClient(); // destroy()
    TMqttClient(const TMqttClient&) = delete;
    TMqttClient& operator=(const TMqttClient&) = delete;

    // Creates the client and starts connecting. "" or why it could not start.
    std::string start(int maxQueued);
    // Queues a message. False when the library refused it.
    bool send(const std::string& topic, std::string_view payload, int qos, bool retained, bool tracked);
    // Retries a lost connection now instead of after the back-off.
    void reconnectNow();
    // Sends DISCONNECT, waiting up to timeoutMs for queued messages to go out first.
    void disconnect(int timeoutMs);
    // Clears the callbacks: once it returns no event is in progress or still to come. Never call it from
    // an event.
    void clearEvents();
    // clearEvents(), then closes the connection at once, without a DISCONNECT, and frees the library's
    // client. Later calls do nothing (send() refuses).
    void destroy();

    const TMqttEndpoint& endpoint() const { return FEndpoint; }

    struct Relay; // the callbacks' context (defined in the source)

private:
    TMqttEndpoint FEndpoint;
    std::unique_ptr<Relay> FRelay;
    void* FClient = nullptr;
};

// The operator's text for a failed connection attempt: a refused CONNACK; for TLS, what a handshake of
// our own finds (see TlsCheck.h), else the library's TLS error; what a plain TCP connection to the broker
// finds (host not found, connection refused, no answer); a TLS port reached without TLS.
// Blocks up to about timeoutSeconds for that check: call it off the main thread.
std::string ConnectFailureText(const TMqttEndpoint& endpoint, int code, const std::string& libraryMessage,
                               const std::string& tlsError);
