#include "uCTraceHelper.h"

#include "TraceWriter.h"

uCTraceHelper &uCTraceHelper::getInstance()
{
    static uCTraceHelper *helper = new uCTraceHelper();
    return *helper;
}

int uCTraceHelper::ResetTraceLevel(int level)
{
    return TraceWriter::setLevel(level);
}

int uCTraceHelper::GetTraceLevel() const
{
    return TraceWriter::level();
}

int uCTraceHelper::RedirectToConsole()
{
    return TraceWriter::instance().redirectToConsole();
}

int uCTraceHelper::RedirectToShareMemory()
{
    return TraceWriter::instance().redirectToLogFile();
}
