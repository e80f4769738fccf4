#pragma once

#include <QByteArray>
#include <QtGlobal>

// Sets or clears one environment variable for a scope and puts it back as it
// was, unset included, even when a failed check leaves the test early.
class ScopedEnv {
public:
    explicit ScopedEnv(const char* name)
        : name_(name)
        , saved_(qgetenv(name))
        , wasSet_(qEnvironmentVariableIsSet(name))
    {
    }
    ScopedEnv(const char* name, const QByteArray& value)
        : ScopedEnv(name)
    {
        set(value);
    }
    ~ScopedEnv()
    {
        if (wasSet_)
            qputenv(name_, saved_);
        else
            qunsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    // A null value clears the variable.
    void set(const QByteArray& value)
    {
        if (value.isNull())
            qunsetenv(name_);
        else
            qputenv(name_, value);
    }

private:
    const char* name_;
    QByteArray saved_;
    bool wasSet_;
};
