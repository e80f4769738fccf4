#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class QTimer;

// Polls a file of extra options and reports its arguments whenever the
// content changes; a missing file counts as empty.
class ControlFile : public QObject {
    Q_OBJECT
public:
    ControlFile(const QString& path, QObject* parent = nullptr);
    // Reads the file now; true when the content differs from the last read.
    bool poll();
    QStringList arguments() const { return m_arguments; }

signals:
    void changed(const QStringList& arguments);

private:
    QString m_path;
    QByteArray m_content;
    bool m_read = false;
    QStringList m_arguments;
    QTimer* m_timer = nullptr;
};
