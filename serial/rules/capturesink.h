#pragma once

#include <QByteArrayView>

// Where the receive handler hands every unit it reads. What the sink does with
// it (write it to the capture file, or nothing while no capture runs) is its
// own business.
class CaptureSink
{
public:
    virtual ~CaptureSink() = default;
    // One unit, unchanged, in the order read.
    virtual void write(QByteArrayView unit) = 0;
    // The receive event is over: hand what was written to the system.
    virtual void endOfEvent() = 0;
};
