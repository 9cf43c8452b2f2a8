// Linked into copies of the command-line programs to make every non-throwing allocation fail, so that their
// handling of an encoder or decoder that cannot be created can be tested.
#include <cstddef>
#include <new>

void* operator new(std::size_t, const std::nothrow_t&) noexcept { return nullptr; }
