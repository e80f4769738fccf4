#pragma once

#include <QFile>
#include <QJsonObject>
#include <QString>

// Appends one compact JSON object per line and flushes at once, so a test
// reading the file sees every line as soon as it is written.
class JsonLineLog {
public:
    bool open(const QString& path, QString* error);
    bool isOpen() const { return m_file.isOpen(); }
    void write(const QJsonObject& line);

private:
    QFile m_file;
};
