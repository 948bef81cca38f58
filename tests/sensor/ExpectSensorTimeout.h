#pragma once
#include "sensor/ExceptionLib.h"

#include <gtest/gtest.h>

// The statement must end in the sensor's time-out error.
#define EXPECT_SENSOR_TIMEOUT(statement)        \
    try {                                       \
        statement;                              \
        ADD_FAILURE() << "no ESensorError";     \
    } catch (const ESensorError& e) {           \
        EXPECT_STREQ(e.what(), "ESensorError"); \
        EXPECT_EQ(e.ErrorCode, -1010);          \
    }
