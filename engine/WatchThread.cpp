#include "engine/WatchThread.h"

namespace morvane {

WatchThread::~WatchThread() = default;

} // namespace morvane
