#include "vemlog.h"

#include <cstdarg>

#include <log4cpp/Priority.hh>

cVemlog::cVemlog(const char *category) : mCategory(&log4cpp::Category::getInstance(category)) {}

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
