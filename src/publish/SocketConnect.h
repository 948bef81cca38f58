#pragma once

#include <sys/socket.h>

// Connects the non-blocking socket fd to address, waiting at most timeoutMs for the answer: 0 once
// connected, else the errno (ETIMEDOUT when no answer came in time).
int connectWithin(int fd, const sockaddr* address, socklen_t size, int timeoutMs);
