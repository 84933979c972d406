// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "alloc_count.h"

#include <cstdlib>
#include <new>

namespace allocCount {
bool enabled = false;
static long count = 0;
static std::size_t arrayBytes = 0;
long calls()
{
    return count;
}
std::size_t lastArrayBytes()
{
    return arrayBytes;
}
} // namespace allocCount

void *operator new(std::size_t n)
{
    if (allocCount::enabled)
        ++allocCount::count;
    if (void *p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}

void *operator new[](std::size_t n)
{
    allocCount::arrayBytes = n;
    return operator new(n);
}
void operator delete(void *p) noexcept
{
    std::free(p);
}
void operator delete[](void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept
{
    std::free(p);
}
