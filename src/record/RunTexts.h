#pragma once
#include <QString>

class QTime;

// The messages a run gives the operator, in the window's status bar and on the service's stderr.
inline constexpr const char* PortUnavailableText = "Current port is already in use or unavailable !!!";
inline constexpr const char* TimeoutText = "Comms response has exceeded timeout period !!!";
// "Reconnected at hh:mm:ss" after an outage; "Connected at hh:mm:ss" when a port missing at the start is there.
QString ReconnectedText(const QTime& time);
QString ConnectedText(const QTime& time);
