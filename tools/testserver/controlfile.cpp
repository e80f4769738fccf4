#include "controlfile.h"

#include "serveroptions.h"

#include <QFile>
#include <QTimer>

ControlFile::ControlFile(const QString& path, QObject* parent)
    : QObject(parent)
    , m_path(path)
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(200);
    connect(m_timer, &QTimer::timeout, this, [this] {
        if (poll())
            emit changed(m_arguments);
    });
    m_timer->start();
}

bool ControlFile::poll()
{
    QByteArray content;
    QFile file(m_path);
    if (file.open(QIODevice::ReadOnly))
        content = file.readAll();
    // Comparing content rather than mtime also catches writes within one
    // timestamp tick.
    if (m_read && content == m_content)
        return false;
    m_read = true;
    m_content = content;
    m_arguments = splitControlText(QString::fromUtf8(content));
    return true;
}
