// Prints what one set-up readback and one privileged round trip cost. The
// window re-reads the set-up after every step, and a step blocks the GUI
// thread, so both should stay well below what a user notices.
#include "adminstep.h"
#include "syncsetup.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <unistd.h>

static double readbackMicroseconds(int rounds)
{
    QTemporaryDir root;
    qputenv("TAVRIN_PELLUM_ROOT", QFile::encodeName(root.path()));
    QDir().mkpath(root.path() + QStringLiteral("/var/lib/tavrin-pellum"));
    QFile record(root.path() + QStringLiteral("/var/lib/tavrin-pellum/setup.ini"));
    record.open(QIODevice::WriteOnly);
    record.write("[General]\nServer=10.0.0.5\nHasPrevious=1\n");
    record.close();

    int seen = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rounds; ++i)
        seen += readSyncSetup().hasPrevious ? 1 : 0;
    const double us = double(timer.nsecsElapsed()) / 1000.0 / rounds;
    qunsetenv("TAVRIN_PELLUM_ROOT");
    return seen == rounds ? us : -1.0;
}

// Round trip through the runner with a script that does nothing; root only,
// since otherwise every round would ask for permission.
static double stepMilliseconds(int rounds)
{
    const QString script = AdminStep::scriptPath();
    QDir().mkpath(QFileInfo(script).path());
    QFile file(script);
    if (QFile::exists(script) || !file.open(QIODevice::WriteOnly))
        return -1.0;
    file.write("#!/bin/sh\nexit 0\n");
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                        | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                        | QFileDevice::ExeOther);
    QElapsedTimer timer;
    timer.start();
    int done = 0;
    for (int i = 0; i < rounds; ++i)
        done += runAdminStep({QStringLiteral("sync")}, nullptr) == AdminStepResult::Done ? 1 : 0;
    const double ms = double(timer.nsecsElapsed()) / 1e6 / rounds;
    QFile::remove(script);
    return done == rounds ? ms : -1.0;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::printf("readSyncSetup: %.1f us per call (2000 calls)\n", readbackMicroseconds(2000));
    if (::geteuid() == 0)
        std::printf("runAdminStep, empty script: %.2f ms per step (50 steps)\n", stepMilliseconds(50));
    else
        std::printf("runAdminStep: skipped (not root)\n");
    return 0;
}
