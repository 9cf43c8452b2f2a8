// Linked into a copy of the command-line encoder to make every non-throwing allocation fail, so that the
// program's handling of an encoder that cannot be created can be tested.
#include <cstddef>
#include <new>

void* operator new(std::size_t, const std::nothrow_t&) noexcept { return nullptr; }
