#pragma once

// Shared pieces of the main window tests: a private network namespace, a
// scratch machine root and settings store, a stand-in setup script, and a
// driver that answers modal dialogs so no test ever waits on one.

#include "../netlan/privateloopback.h"
#include "adminstep.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>

namespace WindowTestKit {

// Moves this process into a fresh network namespace with only its loopback,
// up. Anything the window sends then stays inside it. False without root.
inline bool enterPrivateNetwork()
{
    return NetLan::enterPrivateLoopback();
}

// Points the machine-wide files and the per-user settings at a scratch
// directory. Call before the application object exists.
inline void useScratchRoot(const QString& dir)
{
    qputenv("TAVRIN_PELLUM_ROOT", QFile::encodeName(dir + QStringLiteral("/root")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir + QStringLiteral("/config")));
    QDir().mkpath(dir + QStringLiteral("/root/var/lib/tavrin-pellum"));
    QDir().mkpath(dir + QStringLiteral("/config"));
}

inline QString rootDir() { return qEnvironmentVariable("TAVRIN_PELLUM_ROOT"); }
inline QString recordPath() { return rootDir() + QStringLiteral("/var/lib/tavrin-pellum/setup.ini"); }
inline QString argsLogPath() { return rootDir() + QStringLiteral("/script-args.log"); }
inline QString exitCodePath() { return rootDir() + QStringLiteral("/script-exit-code"); }
inline QString hasPreviousPath() { return rootDir() + QStringLiteral("/script-has-previous"); }

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The set-up record as the real script leaves it.
inline void writeRecord(const QString& server, bool hasPrevious)
{
    writeFile(recordPath(), QByteArrayLiteral("[General]\nServer=") + server.toUtf8()
                  + QByteArrayLiteral("\nHasPrevious=") + (hasPrevious ? "1" : "0") + "\n");
}

inline void clearRecord() { QFile::remove(recordPath()); }

// Lines of "<args>" the stand-in script was run with, oldest first.
inline QStringList scriptRuns()
{
    const QString text = QString::fromUtf8(readFile(argsLogPath())).trimmed();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

inline void setScriptExitCode(int code) { writeFile(exitCodePath(), QByteArray::number(code)); }

// Installs a stand-in for the setup script where the runner looks: it logs
// its arguments, writes or removes the set-up record as the real one does,
// and exits with the code the test asked for.
inline bool installStandInScript()
{
    const QString path = AdminStep::scriptPath();
    QDir().mkpath(QFileInfo(path).path());
    const QByteArray script = R"SH(#!/bin/bash
root="${TAVRIN_PELLUM_ROOT:?}"
echo "$*" >>"$root/script-args.log"
code=$(cat "$root/script-exit-code" 2>/dev/null || echo 0)
record="$root/var/lib/tavrin-pellum/setup.ini"
previous=$(cat "$root/script-has-previous" 2>/dev/null || echo 0)
case "$1" in
install)
    if [ "$code" = 0 ] || [ "$code" = 3 ]; then
        mkdir -p "$(dirname "$record")"
        printf '[General]\nServer=%s\nHasPrevious=%s\n' "$3" "$previous" >"$record"
    fi ;;
remove)
    if [ "$code" = 0 ] || [ "$code" = 3 ]; then rm -f "$record"; fi ;;
esac
exit "$code"
)SH";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(script);
    file.close();
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

inline void resetScript()
{
    QFile::remove(argsLogPath());
    QFile::remove(exitCodePath());
    QFile::remove(hasPreviousPath());
}

// What a dialog looked like when the driver answered it.
struct SeenDialog {
    QString kind;        // "message" or "input"
    QString title;
    QString text;
    QString informative;
    QString label;       // input dialogs
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons; // in the box's order
    QString defaultButton;
    QString escapeButton;
};

// Answers modal dialogs in turn from a queue of steps. A dialog for which no
// step is left is rejected and counted, so a test fails instead of hanging.
class DialogDriver : public QObject {
public:
    using Step = std::function<void(QWidget*)>;

    explicit DialogDriver(QObject* parent = nullptr)
        : QObject(parent)
    {
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, this, [this] { poll(); });
        timer.start();
    }

    void push(const Step& step) { steps.append(step); }

    // Clicks the button of the given text, or the standard button.
    void click(const QString& text) { push([text](QWidget* w) { clickIn(w, text); }); }
    void click(QMessageBox::StandardButton which)
    {
        push([which](QWidget* w) {
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                if (QAbstractButton* b = box->button(which)) {
                    b->click();
                    return;
                }
                box->reject();
            }
        });
    }
    void escape() { push([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); }); }
    void type(const QString& text)
    {
        push([text](QWidget* w) {
            if (auto* input = qobject_cast<QInputDialog*>(w)) {
                input->setTextValue(text);
                input->accept();
            }
        });
    }
    void cancelInput()
    {
        push([](QWidget* w) {
            if (auto* dialog = qobject_cast<QDialog*>(w))
                dialog->reject();
        });
    }

    QList<SeenDialog> seen;
    int unexpected = 0;
    int pending() const { return steps.size(); }
    void clear()
    {
        seen.clear();
        steps.clear();
        unexpected = 0;
    }

private:
    static QString buttonName(QAbstractButton* button)
    {
        return button ? button->text().remove(QLatin1Char('&')) : QString();
    }

    static void clickIn(QWidget* w, const QString& text)
    {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box)
            return;
        for (QAbstractButton* b : box->buttons()) {
            if (b->text().remove(QLatin1Char('&')) == text) {
                b->click();
                return;
            }
        }
        box->reject();
    }

    void record(QWidget* w)
    {
        SeenDialog d;
        d.title = w->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            d.kind = QStringLiteral("message");
            d.text = box->text();
            d.informative = box->informativeText();
            d.icon = box->icon();
            for (QAbstractButton* b : box->buttons())
                d.buttons << buttonName(b);
            d.defaultButton = buttonName(box->defaultButton());
            d.escapeButton = buttonName(box->escapeButton());
        } else if (auto* input = qobject_cast<QInputDialog*>(w)) {
            d.kind = QStringLiteral("input");
            d.label = input->labelText();
            d.text = input->textValue();
        }
        seen.append(d);
    }

    void poll()
    {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !w->isVisible() || w == answered.data())
            return;
        // Let the dialog finish showing (buttons laid out, escape detected).
        if (!shownOnce.contains(w)) {
            shownOnce.append(w);
            return;
        }
        answered = w;
        record(w);
        if (steps.isEmpty()) {
            ++unexpected;
            if (auto* dialog = qobject_cast<QDialog*>(w))
                dialog->reject();
            return;
        }
        const Step step = steps.takeFirst();
        step(w);
    }

    QTimer timer;
    QList<Step> steps;
    QPointer<QWidget> answered;
    QList<QPointer<QWidget>> shownOnce;
};

} // namespace WindowTestKit
