// DisplayApi, the driver's exported front end, and the identification
// strings of the library.
#include "display.h"

extern "C" {
char EyeCatcher1[4] = "~~~";
char PnlmonlVersion[26] = "PNLMON Version 3.1.000 / ";
char BuildDate[33] = "Built at " __TIME__ " on " __DATE__;
char ExtraInfo[1] = "";
char EyeCatcher2[4] = "~~~";
}
