#include "chMessageHandler.h"

#include "chRuntimeRegistry.h"
#include "chThreadLocal.h"

chMessageHandler::chMessageHandler() : m_handlerId(chRuntimeRegistry::instance().newId())
{
    chThreadLocal *current = chThreadLocal::current();
    chRuntimeRegistry::instance().addHandler(m_handlerId, this, current ? current->queue() : nullptr);
}

chMessageHandler::~chMessageHandler()
{
    chRuntimeRegistry::instance().removeHandler(m_handlerId);
}

int chMessageHandler::onThreadMessage(msgObject &)
{
    return 0;
}
