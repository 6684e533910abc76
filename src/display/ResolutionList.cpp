#include "ResolutionList.h"

namespace {

// Index 14 is a hole in the firmware's numbering: all zero, treated as not
// found.
const Resolution kModes[] = {
    {640, 350, 70},  {640, 400, 70},  {720, 350, 70},   {720, 400, 70},
    {640, 480, 60},  {640, 480, 72},  {640, 480, 75},   {800, 600, 56},
    {800, 600, 60},  {800, 600, 72},  {800, 600, 75},   {1024, 768, 60},
    {1024, 768, 70}, {1024, 768, 75}, {0, 0, 0},        {1366, 768, 59},
};

}  // namespace

ResolutionList::ResolutionList() : list(std::begin(kModes), std::end(kModes))
{
}

void ResolutionList::getResolution(size_t index, Resolution& res)
{
    if (index < list.size()) {
        res = list[index];
    }
}
