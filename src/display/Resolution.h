// One video mode: pixels, lines and refresh rate.
#ifndef PNLMON_RESOLUTION_H
#define PNLMON_RESOLUTION_H

class Resolution {
public:
    Resolution(unsigned int horiz = 0, unsigned int vert = 0, unsigned int rfrsh = 0);

    unsigned int horiz;  // pixels
    unsigned int vert;   // lines
    unsigned int rfrsh;  // Hz
};

#endif
