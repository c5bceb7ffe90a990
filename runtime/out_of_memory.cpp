// Linked into the executables only: a failed allocation ends the program with
// the fatal error that names the size asked for.
//
// Every form of operator new and delete is replaced, all on malloc and free:
// a block that the library allocates with one form (the nothrow buffer of
// std::stable_sort, an over-aligned object) may be freed with another, and
// mixing our forms with the library's would free through the wrong allocator.
// The nothrow forms still answer null, as their callers expect.
#include <cstdlib>
#include <new>

#include "program.h"

namespace {

void* allocate(std::size_t size) noexcept { return std::malloc(size ? size : 1); }

void* allocateAligned(std::size_t size, std::align_val_t align) noexcept
{
    void* p = nullptr;
    const std::size_t a = static_cast<std::size_t>(align) < sizeof(void*) ? sizeof(void*) : static_cast<std::size_t>(align);
    return posix_memalign(&p, a, size ? size : 1) == 0 ? p : nullptr;
}

} // namespace

void* operator new(std::size_t size)
{
    if (void* p = allocate(size))
        return p;
    ReportOutOfMemory(size);
}

void* operator new[](std::size_t size) { return operator new(size); }

void* operator new(std::size_t size, std::align_val_t align)
{
    if (void* p = allocateAligned(size, align))
        return p;
    ReportOutOfMemory(size);
}

void* operator new[](std::size_t size, std::align_val_t align) { return operator new(size, align); }

void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept
{
    return allocateAligned(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept
{
    return allocateAligned(size, align);
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
