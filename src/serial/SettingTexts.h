#pragma once
#include "serial/ComTypes.h"
#include <string>

std::string BaudRateToText(TBaudRate Value);
std::string StopBitsToText(TStopBits Value);
std::string DataBitsToText(TDataBits Value);
std::string ParityToText(TParityBits Value);
std::string FlowControlToText(TFlowControl Value);
