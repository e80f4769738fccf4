#pragma once

#include <QWidget>

// Every toolkit widget in each of its states, laid out on one content widget.
QWidget* makeGalleryBoard(QWidget* parent = nullptr);
// Puts the current palette on the board, the dots that stand for palette roles included.
void themeGalleryBoard(QWidget* board);
