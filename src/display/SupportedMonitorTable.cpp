#include "SupportedMonitorTable.h"

namespace {

const SupportedMonitorTable::Row kRows[] = {
    {0x04B3, 0x4676, SupportedMonitorTable::kFamilyTilo},
    {0x04B3, 0x4677, SupportedMonitorTable::kFamilyTilo},
    {0x04B3, 0x4678, SupportedMonitorTable::kFamilyMerv},
    {0x04B3, 0x4679, SupportedMonitorTable::kFamilyMerv},
    {0x0F66, 0x467A, SupportedMonitorTable::kFamilySarn},
};

}  // namespace

const SupportedMonitorTable::Row* SupportedMonitorTable::begin()
{
    return kRows;
}

const SupportedMonitorTable::Row* SupportedMonitorTable::end()
{
    return kRows + size();
}

size_t SupportedMonitorTable::size()
{
    return sizeof(kRows) / sizeof(kRows[0]);
}

const SupportedMonitorTable::Row* SupportedMonitorTable::find(unsigned short vid, unsigned short pid)
{
    for (const Row* row = begin(); row != end(); ++row) {
        if (row->vid == vid && row->pid == pid) {
            return row;
        }
    }
    return nullptr;
}

unsigned short SupportedMonitorTable::family(unsigned short vid, unsigned short pid)
{
    const Row* row = find(vid, pid);
    return row != nullptr ? row->family : kFamilyUnknown;
}
