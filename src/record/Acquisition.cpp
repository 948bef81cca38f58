#include "record/Acquisition.h"

#include "record/RunClock.h"
#include "sensor/SensorObjects.h"
#include "serial/EComPort.h"

TAcquisition::TAcquisition(const RunClock& clock, QObject* parent)
    : QObject(parent), FClock(clock), FSensor(std::make_unique<TSensor>()),
      FReconnect([this] { return reconnectAttempt(); },
                 [this] {
                     const bool first = FStartPending;
                     FStartPending = false;
                     emit reconnected(first);
                 },
                 this)
{
    FSensor->setClock(&clock);
}

TAcquisition::~TAcquisition()
{
    FReconnect.clear();
    FSensor.reset(); // closes the port and ends its event thread
}

bool TAcquisition::openPort()
{
    FReconnect.clear();
    FStartPending = false;
    try {
        FSensor->Open();
        return true;
    } catch (const EComPort&) {
        FStartPending = true;
        FReconnect.lost();
        return false;
    }
}

TReading TAcquisition::takeReading()
{
    if (FConcentrationMode) {
        TConcentrationModeStructure reading;
        FSensor->GetConcentrationReading(reading);
        return reading;
    }
    TChannelsModeStructure reading;
    FSensor->GetChannelsReading(reading);
    return reading;
}

void TAcquisition::outage()
{
    emit timedOut(!FReconnect.outage());
    FReconnect.lost();
}

bool TAcquisition::reconnectAttempt()
{
    try {
        if (!FSensor->Connected() || FSensor->deviceLost()) {
            FSensor->Close();
            FSensor->Open();
        }
        FSensor->markReadingsStale(); // a record from before the outage does not count as an answer
        takeReading();
        return true;
    } catch (const ESensorError&) {
    } catch (const EComPort&) {
    }
    return false;
}
