#include "vemlog.h"

#include <cstdarg>

#include <log4cpp/Priority.hh>

namespace {

log4cpp::Category &categoryNamed(const char *name)
{
    // log4cpp builds its category hierarchy on first use without a lock, so
    // loggers first made on two threads at once would race there. A
    // function-local static makes that first use happen exactly once.
    static log4cpp::Category &root = log4cpp::Category::getRoot();
    (void)root;
    return log4cpp::Category::getInstance(name);
}

} // namespace

cVemlog::cVemlog(const char *category) : mCategory(&categoryNamed(category)) {}

void cVemlog::info(const char *format, ...)
{
    if (!mCategory->isInfoEnabled())
        return;
    va_list va;
    va_start(va, format);
    mCategory->logva(log4cpp::Priority::INFO, format, va);
    va_end(va);
}

void cVemlog::debug(const char *format, ...)
{
    if (!mCategory->isDebugEnabled())
        return;
    va_list va;
    va_start(va, format);
    mCategory->logva(log4cpp::Priority::DEBUG, format, va);
    va_end(va);
}
