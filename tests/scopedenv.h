#pragma once

#include <QByteArray>
#include <QtGlobal>

// Sets one environment variable (a null value clears it) for a scope and puts
// it back as it was, unset included, even when a failed check leaves early.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : name_(name), saved_(qgetenv(name)), wasSet_(qEnvironmentVariableIsSet(name))
    {
        put(value.isNull(), value);
    }
    ~ScopedEnv() { put(!wasSet_, saved_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void put(bool clear, const QByteArray& value) const
    {
        if (clear)
            qunsetenv(name_);
        else
            qputenv(name_, value);
    }
    const char* name_;
    QByteArray saved_;
    bool wasSet_;
};
