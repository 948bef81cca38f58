#pragma once
// The tick pattern shared by the three timers of the main window.
#include "sensor/ExceptionLib.h"
#include "app/Main.h"
#include "sensor/SensorObjects.h"

#include <QTimer>

// Takes the reading of the current mode and hands it to `use` (a callable taking either reading
// record); returns what `use` returned. The sensor's errors pass through.
template <typename Use> auto TFormMain::takeReading(Use use)
{
    if (FConcentrationMode) {
        TConcentrationModeStructure reading;
        FSensor->GetConcentrationReading(reading);
        return use(reading);
    }
    TChannelsModeStructure reading;
    FSensor->GetChannelsReading(reading);
    return use(reading);
}

// The timer off and status panel 1 cleared; the reading of the current mode taken and handed to `put`
// (a callable taking either reading record); the timer on again unless `put` returned false. A sensor
// time-out stops acquisition instead and leaves the timer off.
template <typename Put> void TFormMain::runTick(QTimer* timer, Put put)
{
    timer->stop();
    clearStatusMessage();
    try {
        if (takeReading(put))
            timer->start();
    } catch (const ESensorError&) {
        sensorTimedOut();
    }
}
