#include "jsonlinelog.h"

#include <QJsonDocument>

bool JsonLineLog::open(const QString& path, QString* error)
{
    if (path.isEmpty())
        return true;
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        *error = QStringLiteral("%1: %2").arg(path, m_file.errorString());
        return false;
    }
    return true;
}

void JsonLineLog::write(const QJsonObject& line)
{
    if (!m_file.isOpen())
        return;
    m_file.write(QJsonDocument(line).toJson(QJsonDocument::Compact));
    m_file.write("\n");
    m_file.flush();
}
