#include "instschemewatcher.h"
#include "insttheme.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStyleHints>
#include <QVBoxLayout>
#include <QtTest>

namespace {

struct Expected {
    const char* role;
    QColor Inst::Palette::*member;
    const char* dark;
    const char* light;
};

const Expected kSolid[] = {
    {"panel", &Inst::Palette::panel, "#07090c", "#f4f4f5"},
    {"deck", &Inst::Palette::deck, "#0b0d11", "#e6e8ec"},
    {"section", &Inst::Palette::section, "#090b0f", "#fafbfc"},
    {"bezel", &Inst::Palette::bezel, "#21262e", "#ccd0d6"},
    {"accent", &Inst::Palette::accent, "#45c7f5", "#0e85b8"},
    {"pri", &Inst::Palette::pri, "#ccd1d9", "#21262e"},
    {"sec", &Inst::Palette::sec, "#8c96a3", "#575e6b"},
    {"mut", &Inst::Palette::mut, "#66707d", "#7a828f"},
    {"canvas", &Inst::Palette::canvas, "#030507", "#fcfcfa"},
    {"well", &Inst::Palette::well, "#05070a", "#e6e9ec"},
    {"led", &Inst::Palette::led, "#38e07a", "#1a854d"},
    {"red", &Inst::Palette::red, "#ff453a", "#ff3b30"},
    {"amber", &Inst::Palette::amber, "#ff9f0a", "#cc7300"},
};

// Counts paint events of one widget.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

class TestInstTheme : public QObject {
    Q_OBJECT
private slots:
    void startsDarkWithSystemAppearance();
    void paletteColoursAreExact();
    void appearanceStringsRoundTrip();
    void setAppearanceLeavesPaletteAlone();
    void wantsDarkFollowsChoiceAndPlatformPalette();
    void schemeWatcherReportsPaletteChange();
    void rgbaText();
    void qtPaletteRoles();
    void styleSheetHasNoTokensLeft_data();
    void styleSheetHasNoTokensLeft();
    void styleSheetValuesPerPalette();
    void applyThemeIgnoresNull();
    void repeatedSwitchesTakeEffect();
    void toneProperty();
    void toneUnchangedDoesNotRepaint();
    void styleButtonRoles();
    void arrowImages_data();
    void arrowImages();
};

void TestInstTheme::startsDarkWithSystemAppearance()
{
    // Must run first: checks the state before anything switched it.
    QVERIFY(Inst::colors().dark);
    QCOMPARE(Inst::colors().panel.name(), QStringLiteral("#07090c"));
    QCOMPARE(Inst::appearance(), Inst::Appearance::System);
    QVERIFY(!Inst::setDark(true));
    QVERIFY(Inst::setDark(false));
    QVERIFY(!Inst::colors().dark);
    QVERIFY(!Inst::setDark(false));
    QVERIFY(Inst::setDark(true));
}

void TestInstTheme::paletteColoursAreExact()
{
    const Inst::Palette dark = Inst::makePalette(true);
    const Inst::Palette light = Inst::makePalette(false);
    QVERIFY(dark.dark);
    QVERIFY(!light.dark);
    for (const Expected& e : kSolid) {
        QCOMPARE((dark.*e.member).name(), QString::fromLatin1(e.dark));
        QCOMPARE((light.*e.member).name(), QString::fromLatin1(e.light));
        QCOMPARE((dark.*e.member).alphaF(), 1.0f);
    }
    QCOMPARE(dark.grid, QColor::fromRgbF(1, 1, 1, 0.09f));
    QCOMPARE(light.grid, QColor::fromRgbF(0, 0, 0, 0.075f));
    QCOMPARE(dark.screen, QColor::fromRgbF(1, 1, 1, 0.92f));
    QCOMPARE(light.screen.name(), QStringLiteral("#262b33"));
    QCOMPARE(light.screen.alphaF(), 1.0f);
    // Exact float values, not just their 8-bit rounding.
    QCOMPARE(dark.accent, QColor::fromRgbF(0.27f, 0.78f, 0.96f, 1.0f));
    QCOMPARE(light.amber, QColor::fromRgbF(0.80f, 0.45f, 0.0f, 1.0f));
}

void TestInstTheme::appearanceStringsRoundTrip()
{
    using Inst::Appearance;
    for (const char* text : {"system", "light", "dark"}) {
        const QString s = QString::fromLatin1(text);
        QCOMPARE(Inst::appearanceToString(Inst::appearanceFromString(s)), s);
    }
    QCOMPARE(Inst::appearanceFromString("system"), Appearance::System);
    QCOMPARE(Inst::appearanceFromString("light"), Appearance::Light);
    QCOMPARE(Inst::appearanceFromString("dark"), Appearance::Dark);
    QCOMPARE(Inst::appearanceFromString("Light"), Appearance::Dark);
    QCOMPARE(Inst::appearanceFromString(" light"), Appearance::Dark);
    QCOMPARE(Inst::appearanceFromString(QString()), Appearance::Dark);
    QCOMPARE(Inst::appearanceFromString("sepia"), Appearance::Dark);
    QCOMPARE(Inst::appearanceToString(static_cast<Appearance>(7)), QStringLiteral("dark"));
    QCOMPARE(Inst::appearanceToString(static_cast<Appearance>(-1)), QStringLiteral("dark"));
    QCOMPARE(static_cast<int>(Appearance::System), 0);
    QCOMPARE(static_cast<int>(Appearance::Light), 1);
    QCOMPARE(static_cast<int>(Appearance::Dark), 2);
}

void TestInstTheme::setAppearanceLeavesPaletteAlone()
{
    Inst::setDark(true);
    Inst::setAppearance(Inst::Appearance::Light);
    QCOMPARE(Inst::appearance(), Inst::Appearance::Light);
    QVERIFY(Inst::colors().dark);
    QVERIFY(!Inst::wantsDark());
    Inst::setAppearance(Inst::Appearance::Dark);
    QVERIFY(Inst::wantsDark());
    Inst::setAppearance(Inst::Appearance::System);
    QCOMPARE(Inst::appearance(), Inst::Appearance::System);
}

void TestInstTheme::wantsDarkFollowsChoiceAndPlatformPalette()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    if (QGuiApplication::styleHints()->colorScheme() != Qt::ColorScheme::Unknown)
        QSKIP("the platform reports a colour scheme; the palette fallback is not used");
#endif
    const QPalette saved = QApplication::palette();
    Inst::setAppearance(Inst::Appearance::System);
    QPalette p = saved;
    p.setColor(QPalette::Window, QColor::fromHsl(0, 0, 127));
    QCOMPARE(p.color(QPalette::Window).lightness(), 127);
    QApplication::setPalette(p);
    QVERIFY(Inst::wantsDark());
    p.setColor(QPalette::Window, QColor::fromHsl(0, 0, 128));
    QApplication::setPalette(p);
    QVERIFY(!Inst::wantsDark());
    Inst::setAppearance(Inst::Appearance::Dark);
    QVERIFY(Inst::wantsDark());
    Inst::setAppearance(Inst::Appearance::System);
    QApplication::setPalette(saved);
}

void TestInstTheme::schemeWatcherReportsPaletteChange()
{
    Inst::SchemeWatcher watcher;
    QSignalSpy spy(&watcher, &Inst::SchemeWatcher::schemeChanged);
    const QPalette saved = QApplication::palette();
    QPalette p = saved;
    p.setColor(QPalette::Window, Qt::black);
    QApplication::setPalette(p);
    QVERIFY(spy.wait(5000));
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), 1);  // coalesced, however many events arrived
    QApplication::setPalette(saved);
    QVERIFY(spy.wait(5000));
}

void TestInstTheme::rgbaText()
{
    const Inst::Palette dark = Inst::makePalette(true);
    QCOMPARE(Inst::rgba(dark.led, 0.14), QStringLiteral("rgba(56,224,122,0.140)"));
    QCOMPARE(Inst::rgba(dark.grid, 1.0), QStringLiteral("rgba(255,255,255,0.090)"));
    QCOMPARE(Inst::rgba(QColor(1, 2, 3), 1.0), QStringLiteral("rgba(1,2,3,1.000)"));
    QCOMPARE(Inst::rgba(QColor(1, 2, 3), 0.0), QStringLiteral("rgba(1,2,3,0.000)"));
}

void TestInstTheme::qtPaletteRoles()
{
    Inst::setDark(false);
    const Inst::Palette& c = Inst::colors();
    const QPalette p = Inst::qtPalette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        QCOMPARE(p.color(group, QPalette::Window), c.panel);
        QCOMPARE(p.color(group, QPalette::WindowText), c.pri);
        QCOMPARE(p.color(group, QPalette::Base), c.canvas);
        QCOMPARE(p.color(group, QPalette::AlternateBase), c.section);
        QCOMPARE(p.color(group, QPalette::Text), c.pri);
        QCOMPARE(p.color(group, QPalette::Button), c.section);
        QCOMPARE(p.color(group, QPalette::ButtonText), c.pri);
        QCOMPARE(p.color(group, QPalette::Highlight), c.accent);
        QCOMPARE(p.color(group, QPalette::HighlightedText), c.panel);
        QCOMPARE(p.color(group, QPalette::PlaceholderText), c.mut);
        QCOMPARE(p.color(group, QPalette::Link), c.accent);
    }
    QCOMPARE(p.color(QPalette::Disabled, QPalette::Window), c.panel);
    QCOMPARE(p.color(QPalette::Disabled, QPalette::WindowText), c.mut);
    QCOMPARE(p.color(QPalette::Disabled, QPalette::Text), c.mut);
    QCOMPARE(p.color(QPalette::Disabled, QPalette::ButtonText), c.mut);
    Inst::setDark(true);
}

void TestInstTheme::styleSheetHasNoTokensLeft_data()
{
    QTest::addColumn<bool>("dark");
    QTest::newRow("dark") << true;
    QTest::newRow("light") << false;
}

void TestInstTheme::styleSheetHasNoTokensLeft()
{
    QFETCH(bool, dark);
    Inst::setDark(dark);
    const QString sheet = Inst::styleSheet();
    QVERIFY(sheet.startsWith(QLatin1Char('\n')));
    const QRegularExpression token(QStringLiteral("%[A-Za-z0-9]+%"));
    QVERIFY2(!token.match(sheet).hasMatch(), qPrintable(token.match(sheet).captured()));
    QVERIFY(!sheet.contains(QLatin1Char('%')));
    QCOMPARE(sheet.count(QLatin1Char('{')), 83);
    QCOMPARE(sheet.count(QLatin1Char('}')), 83);
    QCOMPARE(sheet.count(QStringLiteral("/*")), 4);
    Inst::setDark(true);
}

void TestInstTheme::styleSheetValuesPerPalette()
{
    Inst::setDark(true);
    QString sheet = Inst::styleSheet();
    QVERIFY(sheet.contains("QLabel[tone=\"go\"] { color: #38e07a; }"));
    QVERIFY(sheet.contains("url(:/inst/arrows/up-dark.png)"));
    QVERIFY(sheet.contains("rgba(255,255,255,0.920)"));
    QVERIFY(sheet.contains("rgba(255,159,10,0.400)"));
    QVERIFY(sheet.contains("rgba(69,199,245,0.500)"));
    QVERIFY(!sheet.contains("-light.png"));

    Inst::setDark(false);
    sheet = Inst::styleSheet();
    QVERIFY(sheet.contains("url(:/inst/arrows/up-light.png)"));
    QVERIFY(sheet.contains("url(:/inst/arrows/down-light.png)"));
    QVERIFY(sheet.contains("rgba(38,43,51,1.000)"));
    QVERIFY(sheet.contains("rgba(0,0,0,0.075)"));
    QVERIFY(sheet.contains("rgba(255,59,48,0.300)"));
    QVERIFY(sheet.contains("rgba(204,115,0,0.160)"));
    QVERIFY(sheet.contains("QWidget#instContent { background: #f4f4f5; }"));
    QVERIFY(!sheet.contains("-dark.png"));
    Inst::setDark(true);
}

void TestInstTheme::applyThemeIgnoresNull()
{
    Inst::applyTheme(nullptr);
    Inst::setTone(nullptr, "go");
    Inst::styleButton(nullptr, Inst::ButtonRole::Go);
}

void TestInstTheme::repeatedSwitchesTakeEffect()
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* label = new QLabel("label", &window);
    auto* muted = new QLabel("muted", &window);
    muted->setProperty("tone", QByteArray("muted"));
    auto* button = new QPushButton("button", &window);
    auto* spin = new QSpinBox(&window);
    auto* go = new QPushButton("go", &window);
    Inst::styleButton(go, Inst::ButtonRole::Go);
    layout->addWidget(go);
    layout->addWidget(label);
    layout->addWidget(muted);
    layout->addWidget(button);
    layout->addWidget(spin);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    for (bool dark : {false, true, false, true, false}) {
        Inst::setDark(dark);
        Inst::applyTheme(&window);
        const Inst::Palette& c = Inst::colors();
        QCOMPARE(window.styleSheet(), Inst::styleSheet());
        QVERIFY(window.autoFillBackground());
        QCOMPARE(window.palette().color(QPalette::Window), c.panel);
        QCOMPARE(window.palette().color(QPalette::Base), c.canvas);
        QCOMPARE(window.palette().color(QPalette::Disabled, QPalette::Text), c.mut);
        // The sheet carries #rrggbb, so compare at 8 bits.
        QCOMPARE(label->palette().color(QPalette::WindowText).name(), c.pri.name());
        QCOMPARE(muted->palette().color(QPalette::WindowText).name(), c.mut.name());
        QCOMPARE(button->palette().color(QPalette::ButtonText).name(), c.pri.name());
        QCOMPARE(go->palette().color(QPalette::ButtonText).name(), c.led.name());

        const QImage shot = window.grab().toImage();
        QCOMPARE(QColor(shot.pixel(1, shot.height() - 2)).name(), c.panel.name());
    }
}

void TestInstTheme::toneProperty()
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* label = new QLabel("tone", &window);
    layout->addWidget(label);
    Inst::setDark(true);
    Inst::applyTheme(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const Inst::Palette& c = Inst::colors();

    QCOMPARE(label->palette().color(QPalette::WindowText).name(), c.pri.name());
    const struct {
        const char* tone;
        QColor Inst::Palette::*member;
    } tones[] = {
        {"sec", &Inst::Palette::sec},     {"muted", &Inst::Palette::mut},
        {"go", &Inst::Palette::led},      {"warn", &Inst::Palette::amber},
        {"bad", &Inst::Palette::red},     {"info", &Inst::Palette::accent},
        {"", &Inst::Palette::pri},
    };
    for (const auto& t : tones) {
        Inst::setTone(label, t.tone);
        QCOMPARE(label->property("tone").toByteArray(), QByteArray(t.tone));
        QCOMPARE(label->palette().color(QPalette::WindowText).name(), (c.*t.member).name());
    }
}

void TestInstTheme::toneUnchangedDoesNotRepaint()
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* label = new QLabel("tone", &window);
    layout->addWidget(label);
    Inst::applyTheme(&window);
    Inst::setTone(label, "warn");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    PaintCounter counter;
    label->installEventFilter(&counter);

    Inst::setTone(label, "go");
    QTRY_VERIFY(counter.paints > 0);
    const int before = counter.paints;
    Inst::setTone(label, "go");
    QTest::qWait(50);
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, before);
}

void TestInstTheme::styleButtonRoles()
{
    using Inst::ButtonRole;
    QPushButton plain, go, primary, seg, help, alarm, odd;
    Inst::styleButton(&plain, ButtonRole::Plain);
    Inst::styleButton(&go, ButtonRole::Go);
    Inst::styleButton(&primary, ButtonRole::Primary);
    Inst::styleButton(&seg, ButtonRole::Segment);
    Inst::styleButton(&help, ButtonRole::Help);
    Inst::styleButton(&alarm, ButtonRole::Alarm);
    Inst::styleButton(&odd, static_cast<ButtonRole>(9));

    for (QPushButton* b : {&plain, &go, &primary, &seg, &help, &alarm, &odd}) {
        QCOMPARE(b->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(b->focusPolicy(), Qt::TabFocus);
    }
    QVERIFY(!plain.property("inst").isValid());
    QVERIFY(!odd.property("inst").isValid());
    QCOMPARE(go.property("inst").toByteArray(), QByteArray("go"));
    QCOMPARE(primary.property("inst").toByteArray(), QByteArray("primary"));
    QCOMPARE(seg.property("inst").toByteArray(), QByteArray("seg"));
    QCOMPARE(help.property("inst").toByteArray(), QByteArray("help"));
    QCOMPARE(alarm.property("inst").toByteArray(), QByteArray("alarm"));

    QCOMPARE(plain.font().pointSizeF(), 9.0);
    QCOMPARE(plain.font().weight(), QFont::Medium);
    QCOMPARE(go.font().pointSizeF(), 10.125);
    QCOMPARE(go.font().weight(), QFont::DemiBold);
    QCOMPARE(seg.font().pointSizeF(), 8.625);
    QVERIFY(qAbs(seg.font().letterSpacing() - 0.6) < 1.0 / 64);  // stored in 1/64 px
    QCOMPARE(help.font().pointSizeF(), 8.25);

    QVERIFY(seg.isCheckable());
    QVERIFY(!help.isCheckable());
    QVERIFY(!go.isCheckable());
    QCOMPARE(help.minimumSize(), QSize(20, 20));
    QCOMPARE(help.maximumSize(), QSize(20, 20));
}

void TestInstTheme::arrowImages_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("up");
    QTest::addColumn<QColor>("colour");
    const QColor dark(140, 150, 163);
    const QColor light(87, 94, 107);
    for (const char* dir : {"up", "down"}) {
        for (const char* mode : {"dark", "light"}) {
            for (int scale : {1, 2}) {
                const QString name = QStringLiteral(":/inst/arrows/%1-%2%3.png")
                                         .arg(dir, mode, scale == 2 ? "@2x" : "");
                QTest::newRow(qPrintable(name))
                    << name << QSize(8 * scale, 5 * scale) << (qstrcmp(dir, "up") == 0)
                    << (qstrcmp(mode, "dark") == 0 ? dark : light);
            }
        }
    }
}

void TestInstTheme::arrowImages()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(bool, up);
    QFETCH(QColor, colour);
    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), size);
    const int baseRow = up ? size.height() - 1 : 0;
    const int apexRow = up ? 0 : size.height() - 1;
    // The base spans the full width, solid in the middle.
    const QColor middle = image.pixelColor(size.width() / 2, baseRow);
    QCOMPARE(middle.rgb() & 0xffffff, colour.rgb() & 0xffffff);
    QCOMPARE(middle.alpha(), 255);
    QVERIFY(image.pixelColor(0, baseRow).alpha() > 0);
    QVERIFY(image.pixelColor(size.width() - 1, baseRow).alpha() > 0);
    // The apex corners are clear.
    QCOMPARE(image.pixelColor(0, apexRow).alpha(), 0);
    QCOMPARE(image.pixelColor(size.width() - 1, apexRow).alpha(), 0);
}

QTEST_MAIN(TestInstTheme)
#include "tst_insttheme.moc"
