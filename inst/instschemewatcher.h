#pragma once

#include <QObject>

namespace Inst {

// Tells when the platform's colour scheme may have changed. Newer Qt has a
// dedicated signal; older versions only deliver theme and palette events.
class SchemeWatcher : public QObject {
    Q_OBJECT
public:
    explicit SchemeWatcher(QObject* parent = nullptr);

signals:
    void schemeChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void notifySoon();
    bool pending_ = false;
};

} // namespace Inst
