// The stream a temporary is written through before it is renamed onto its target (AtomicFile).
#pragma once

#include <cstdio>

namespace velora {

// A buffered stream that writes to `fd`, owns it (fclose closes it) and, where the system allows,
// starts each piece it writes on its way to the disk at once: the fsync that must come before the
// rename then waits for the last piece instead of the whole file. Null when it cannot be made.
std::FILE* OpenWriteStream(int fd);

}  // namespace velora
