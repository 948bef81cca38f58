#pragma once
#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP as events of the main thread's loop (through a signalfd), so that they are
// handled between two handlers, never in the middle of writing a line. Block() must run before any
// thread starts, so that every thread inherits the blocked signals.
class TSignalEvents : public QObject {
    Q_OBJECT
public:
    static void Block();

    explicit TSignalEvents(QObject* parent = nullptr);
    ~TSignalEvents() override;

signals:
    void terminate(int signal); // SIGTERM or SIGINT
    void hangUp();              // SIGHUP

private:
    void readSignals();

    int FFd = -1;
    QSocketNotifier* FNotifier = nullptr;
};
