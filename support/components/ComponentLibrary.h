#pragma once

namespace morvane {

// Start-up of the component library, once per program, before its first window: the
// library's component classes are registered by name, in the library's fixed order.
// Calling it again changes nothing. Main thread.
void ComponentLibraryStartUp();

} // namespace morvane
