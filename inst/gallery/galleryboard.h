#pragma once

#include <QWidget>

// Every toolkit widget in each of its states, laid out on one content widget.
QWidget* makeGalleryBoard(QWidget* parent = nullptr);
