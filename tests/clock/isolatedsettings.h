#pragma once

// Points the per-user settings store at a fresh private directory, so tests
// never touch the user's settings nor each other's. Call before any
// QSettings is made.

#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>

class IsolatedSettings {
public:
    IsolatedSettings() { qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit()); }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};
