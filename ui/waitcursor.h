#pragma once

#include <QApplication>
#include <QCursor>

// The wait cursor as the application's override cursor for one scope: the
// blocking steps give no other sign of life while they run.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~WaitCursor() { restore(); }
    void restore()
    {
        if (active) {
            active = false;
            QApplication::restoreOverrideCursor();
        }
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    bool active = true;
};
