#pragma once

namespace calvoro {

// The processors this process may run on now (its affinity mask, else the hardware's); at least 1.
int usableProcessors();

}  // namespace calvoro
