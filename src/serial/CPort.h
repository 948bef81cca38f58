#pragma once
// The serial port component: port class, settings groups, exception, enumeration and setting texts.
#include "ComPort.h"
#include "ComTypes.h"
#include "EComPort.h"
#include "ErrorReport.h"
#include "PortHolders.h"
#include "PortList.h"
#include "SettingTexts.h"
