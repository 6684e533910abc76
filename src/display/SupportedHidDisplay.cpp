// SupportedHidDisplay is a plain value type; everything lives in the header.
#include "SupportedHidDisplay.h"
