// Free file descriptors. A toolkit that starts with too few (Qt's platform plugin, GLib's event
// loop, fontconfig) ends the process from deep inside, with an abort or a trap; the programs ask
// first, so that they can end with a message of their own.
#pragma once

#include <cstddef>

namespace pitch {

// Whether `count` more descriptors can be opened now: false when opening them fails for the
// process's or the system's limit (EMFILE, ENFILE). Opens and closes them again.
bool DescriptorsAvailable(std::size_t count);

}  // namespace pitch
