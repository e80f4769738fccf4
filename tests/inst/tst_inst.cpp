// Faults of the instrument toolkit: duration borders, theme switches that did
// not take, and controls a keyboard user could neither work nor see focused.
#include "inst.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

class TstInst : public QObject {
    Q_OBJECT

private slots:
    void durationBorders_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("89 s") << qint64(89999) << "89 s";
        QTest::newRow("90 s") << qint64(90000) << "1 min";
        QTest::newRow("90 min less 1 ms") << qint64(5399999) << "89 min";
        QTest::newRow("90 min") << qint64(5400000) << "1 h";
        QTest::newRow("36 h less 1 ms") << qint64(129599999) << "35 h";
        QTest::newRow("36 h") << qint64(129600000) << "1 days";
        QTest::newRow("negative") << qint64(-3000) << "3 s";
    }
    // A duration one step off a border came out in the wrong unit.
    void durationBorders()
    {
        QFETCH(qint64, ms);
        QTEST(Inst::formatDuration(ms), "text");
    }

    // A second theme switch kept the palette the first sheet had saved; focus showed faintly or not at all; the switches and the appearance selector took no keys.
    void themeSwitchesAndFocus()
    {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* label = new QLabel(QStringLiteral("label"));
        QList<QWidget*> controls{new QPushButton(QStringLiteral("go")), new QPushButton(QStringLiteral("Sync now")),
                                 new QPushButton(QStringLiteral("SET UP")), new InstToggle(QStringLiteral("Start at login")),
                                 new InstAppearanceSelector};
        for (auto [i, role] : {std::pair{0, Inst::ButtonRole::Go}, {1, Inst::ButtonRole::Plain}, {2, Inst::ButtonRole::Primary}})
            Inst::styleButton(static_cast<QPushButton*>(controls[i]), role);
        layout->addWidget(label);
        for (QWidget* w : controls)
            layout->addWidget(w);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QApplication::setActiveWindow(&window);
        for (bool dark : {false, true, false}) {
            Inst::setDark(dark);
            Inst::applyTheme(&window);
            const Inst::Palette& c = Inst::colors();
            QCOMPARE(label->palette().color(QPalette::WindowText).name(), c.pri.name());
            QCOMPARE(controls[0]->palette().color(QPalette::ButtonText).name(), c.led.name());
            const QImage shot = window.grab().toImage();
            QCOMPARE(QColor(shot.pixel(1, shot.height() - 2)).name(), c.panel.name());
            for (QWidget* w : controls) {
                window.setFocus();
                const QImage before = w->grab().toImage();
                w->setFocus(Qt::TabFocusReason);
                QTRY_VERIFY(w->hasFocus());
                QVERIFY2(w->grab().toImage() != before, w->metaObject()->className());
            }
        }
        // The focused switch and selector work by keys.
        auto* toggle = static_cast<InstToggle*>(controls[3]);
        QSignalSpy toggled(toggle, &InstToggle::toggled);
        for (Qt::Key key : {Qt::Key_Right, Qt::Key_Right})
            QTest::keyClick(toggle, key);
        QVERIFY(toggle->isChecked());
        for (Qt::Key key : {Qt::Key_Left, Qt::Key_Space})
            QTest::keyClick(toggle, key);
        QCOMPARE(toggled.count(), 3);
        QVERIFY(toggle->isChecked());
        auto* selector = static_cast<InstAppearanceSelector*>(controls[4]);
        QList<Inst::Appearance> told;
        selector->setOnChange([&](Inst::Appearance a) { told << a; });
        for (Qt::Key key : {Qt::Key_Right, Qt::Key_Left, Qt::Key_Left, Qt::Key_Space}) // Right: already at the last segment
            QTest::keyClick(selector, key);
        selector->setValue(Inst::Appearance::Dark); // loading a stored choice reports nothing
        QCOMPARE(told, (QList<Inst::Appearance>{Inst::Appearance::Light, Inst::Appearance::System, Inst::Appearance::Light}));
    }
};

QTEST_MAIN(TstInst)
#include "tst_inst.moc"
