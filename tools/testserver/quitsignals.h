#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a clean event-loop exit.
class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);

signals:
    void quitRequested();

private:
    QSocketNotifier* m_notifier = nullptr;
};
