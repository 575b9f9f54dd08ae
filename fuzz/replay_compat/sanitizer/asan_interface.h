// Stand-in for a compiler that ships no sanitizer headers (MinGW): without
// AddressSanitizer, poisoning a region is nothing at all, as in the real
// header. Only on the include path of the replays, and only when the
// compiler lacks the real one.
#ifndef KW_REPLAY_ASAN_INTERFACE_H
#define KW_REPLAY_ASAN_INTERFACE_H

#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))

#endif
