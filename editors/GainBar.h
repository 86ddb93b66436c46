// The vertical track bars of the settings windows: the highest setting at the
// top, and the groove filled from the bottom up to the handle, so a fuller bar
// reads as more gain or a higher level.
#pragma once

class QSlider;

// Turns a vertical bar so that its minimum is at the top and fills its groove
// from the bottom.
void MakeTopDownBar(QSlider* bar);
