#pragma once

class QWidget;

// Moves a top-level window so that its whole frame lies within the room its
// screen leaves for windows; one that already fits stays where it is.
void moveOntoScreen(QWidget* window);
