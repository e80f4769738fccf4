// Shows the instrument toolkit's widgets for visual checks.
//   inst-gallery                 light and dark boards side by side
//   inst-gallery --theme light   one live board (the selector switches it)
//   inst-gallery --save DIR      writes inst-gallery-light.png / -dark.png
#include "galleryboard.h"
#include "inst.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

namespace {

QPixmap snapshot(QWidget* board, bool dark)
{
    Inst::setDark(dark);
    themeGalleryBoard(board);
    board->adjustSize();
    // Let text panes settle their scroll bars before the picture is taken.
    QCoreApplication::processEvents();
    return board->grab();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption themeOption("theme", "Show one live board: light or dark.", "theme");
    QCommandLineOption saveOption("save", "Write both boards as PNG files into a folder.", "dir");
    parser.addOption(themeOption);
    parser.addOption(saveOption);
    parser.process(app);

    Inst::ensureFonts();

    if (parser.isSet(themeOption)) {
        auto* board = makeGalleryBoard();
        board->setWindowTitle("inst-gallery");
        const Inst::Appearance choice = Inst::appearanceFromString(parser.value(themeOption));
        Inst::setAppearance(choice);
        auto* header = board->findChild<InstModuleHeader*>();
        header->appearanceSelector()->setValue(choice);
        header->appearanceSelector()->setOnChange([board](Inst::Appearance a) {
            Inst::setAppearance(a);
            Inst::setDark(Inst::wantsDark());
            themeGalleryBoard(board);
        });
        auto* watcher = new Inst::SchemeWatcher(board);
        QObject::connect(watcher, &Inst::SchemeWatcher::schemeChanged, board,
                         [board] {
                             Inst::setDark(Inst::wantsDark());
                             themeGalleryBoard(board);
                         });
        Inst::setDark(Inst::wantsDark());
        themeGalleryBoard(board);
        board->move(0, 0);
        board->show();
        // The size lets a screenshot script crop the board from the screen.
        QTimer::singleShot(0, board, [board] {
            std::printf("%dx%d\n", board->frameGeometry().width(), board->frameGeometry().height());
            std::fflush(stdout);
        });
        return app.exec();
    }

    QWidget* board = makeGalleryBoard();
    const QPixmap light = snapshot(board, false);
    const QPixmap dark = snapshot(board, true);
    delete board;

    if (parser.isSet(saveOption)) {
        const QDir dir(parser.value(saveOption));
        const bool ok = light.save(dir.filePath("inst-gallery-light.png"))
            && dark.save(dir.filePath("inst-gallery-dark.png"));
        return ok ? 0 : 1;
    }

    QWidget window;
    window.setWindowTitle("inst-gallery");
    auto* layout = new QHBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (const QPixmap& shot : {light, dark}) {
        auto* label = new QLabel(&window);
        label->setPixmap(shot);
        layout->addWidget(label);
    }
    window.move(0, 0);
    window.show();
    return app.exec();
}
