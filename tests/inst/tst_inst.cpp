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
        QFETCH(QString, text);
        QCOMPARE(Inst::formatDuration(ms), text);
    }

    // A second switch of the theme kept the palette the first sheet had saved.
    void repeatedSwitchesTakeEffect()
    {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* label = new QLabel(QStringLiteral("label"));
        auto* go = new QPushButton(QStringLiteral("go"));
        Inst::styleButton(go, Inst::ButtonRole::Go);
        layout->addWidget(label);
        layout->addWidget(go);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (bool dark : {false, true, false}) {
            Inst::setDark(dark);
            Inst::applyTheme(&window);
            const Inst::Palette& c = Inst::colors();
            QCOMPARE(label->palette().color(QPalette::WindowText).name(), c.pri.name());
            QCOMPARE(go->palette().color(QPalette::ButtonText).name(), c.led.name());
            const QImage shot = window.grab().toImage();
            QCOMPARE(QColor(shot.pixel(1, shot.height() - 2)).name(), c.panel.name());
        }
    }

    // The switches and the appearance selector took no keys.
    void keysWorkTheSwitches()
    {
        InstToggle toggle(QStringLiteral("Keep watching"));
        QSignalSpy toggled(&toggle, &InstToggle::toggled);
        QTest::keyClick(&toggle, Qt::Key_Right);
        QTest::keyClick(&toggle, Qt::Key_Right);
        QVERIFY(toggle.isChecked());
        QTest::keyClick(&toggle, Qt::Key_Left);
        QTest::keyClick(&toggle, Qt::Key_Space);
        QCOMPARE(toggled.count(), 3);
        QVERIFY(toggle.isChecked());

        InstAppearanceSelector selector;
        QList<Inst::Appearance> told;
        selector.setOnChange([&](Inst::Appearance a) { told << a; });
        QTest::keyClick(&selector, Qt::Key_Right); // already at the last segment
        QTest::keyClick(&selector, Qt::Key_Left);
        QTest::keyClick(&selector, Qt::Key_Left);
        QTest::keyClick(&selector, Qt::Key_Space);
        selector.setValue(Inst::Appearance::Dark); // loading a stored choice reports nothing
        QCOMPARE(told, (QList<Inst::Appearance>{Inst::Appearance::Light, Inst::Appearance::System,
                                                 Inst::Appearance::Light}));
    }

    // Focus showed faintly on buttons and not at all on the painted switches.
    void focusIsDrawn()
    {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* plain = new QPushButton(QStringLiteral("Sync now"));
        auto* primary = new QPushButton(QStringLiteral("SET UP"));
        Inst::styleButton(plain, Inst::ButtonRole::Plain);
        Inst::styleButton(primary, Inst::ButtonRole::Primary);
        QList<QWidget*> controls{plain, primary, new InstToggle(QStringLiteral("Start at login")),
                                 new InstAppearanceSelector};
        for (QWidget* w : controls)
            layout->addWidget(w);
        for (bool dark : {false, true}) {
            Inst::setDark(dark);
            Inst::applyTheme(&window);
            window.show();
            QApplication::setActiveWindow(&window);
            for (QWidget* w : controls) {
                window.setFocus();
                const QImage before = w->grab().toImage();
                w->setFocus(Qt::TabFocusReason);
                QTRY_VERIFY(w->hasFocus());
                QVERIFY2(w->grab().toImage() != before, w->metaObject()->className());
            }
        }
    }
};

QTEST_MAIN(TstInst)
#include "tst_inst.moc"
