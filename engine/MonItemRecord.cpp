#include "engine/MonItemRecord.h"

#include <cstring>

namespace morvane {

TMonItemRecord EmptyItemRecord()
{
    TMonItemRecord record;
    std::memset(&record, 0, sizeof record);
    return record;
}

} // namespace morvane
