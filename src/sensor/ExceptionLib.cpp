#include "sensor/ExceptionLib.h"

ESensorError::ESensorError(const std::string& message, int32_t code) : std::runtime_error(message), ErrorCode(code) {}
