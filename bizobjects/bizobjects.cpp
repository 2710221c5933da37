#include "bizobjects/bizobjects.h"

// Without an inner decorator there is nothing that could fail: true.
bool CBizObjectDecorator::dump() { return m_inner ? m_inner->dump() : true; }
bool CBizObjectDecorator::save() { return m_inner ? m_inner->save() : true; }
bool CBizObjectDecorator::load() { return m_inner ? m_inner->load() : true; }
bool CBizObjectDecorator::validate() { return m_inner ? m_inner->validate() : true; }
