#include "Resolution.h"

Resolution::Resolution(unsigned int horiz, unsigned int vert, unsigned int rfrsh)
    : horiz(horiz), vert(vert), rfrsh(rfrsh)
{
}
