#pragma once
// The tick pattern shared by the three timers of the main window.
#include "ExceptionLib.h"
#include "Main.h"
#include "SensorObjects.h"

#include <QTimer>

// The timer off and status panel 1 cleared; the reading of the current mode taken and handed to `put`
// (a callable taking either reading record); the timer on again unless `put` returned false. A sensor
// time-out stops acquisition instead and leaves the timer off.
template <typename Put>
void TFormMain::runTick(QTimer* timer, Put put)
{
    timer->stop();
    setStatusText(1, QString());
    try {
        bool again;
        if (FConcentrationMode) {
            TConcentrationModeStructure reading;
            FSensor->GetConcentrationReading(reading);
            again = put(reading);
        } else {
            TChannelsModeStructure reading;
            FSensor->GetChannelsReading(reading);
            again = put(reading);
        }
        if (again)
            timer->start();
    } catch (const ESensorError&) {
        sensorTimedOut();
    }
}
