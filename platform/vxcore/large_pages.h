#pragma once

// How the process takes memory from the system.

namespace core {

// Backs the heap with 2 MiB pages where the kernel allows it, and keeps what
// is freed for the next allocation. A first run after the cache is emptied
// touches tens of MiB while it reads the store; on a virtual machine each
// 4 KiB page costs a fault of about 10 µs, more than the parse itself. Call
// once at the start of the process; without the kernel's support it changes
// nothing.
void BackHeapWithLargePages();

}  // namespace core
