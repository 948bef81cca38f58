#pragma once
#include "publish/MqttClient.h"

#include <string>

// Checks of our own, with OpenSSL, that name why a TLS connection to a broker fails where the MQTT
// library says only that it failed. Each blocks up to about the endpoint's connection time-out: call
// them off the main thread.

// "" when the file holds a PEM certificate, else why it cannot serve as the CA file.
std::string CaFileProblem(const std::string& file);

// For a TLS endpoint: a handshake of its own, which names what it finds wrong: a CA file that is not a
// certificate, a broker certificate that is not trusted or not for the host, a port that answers MQTT
// without TLS, a failed handshake. "" when it finds nothing wrong (or cannot connect at all).
std::string TlsConnectProblem(const TMqttEndpoint& endpoint);

// For an endpoint without TLS: whether the port completes a TLS handshake (the certificate unchecked).
bool SpeaksTls(const TMqttEndpoint& endpoint);
