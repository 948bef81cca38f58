#pragma once
// The serial port component: port class, settings groups, exception, enumeration and setting texts.
#include "serial/ComPort.h"
#include "serial/ComTypes.h"
#include "serial/EComPort.h"
#include "base/ErrorReport.h"
#include "serial/PortHolders.h"
#include "serial/PortList.h"
#include "serial/SettingTexts.h"
