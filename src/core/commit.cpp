#include "commit.h"

namespace core {

Batch::Batch(db::IBTransaction &transaction) : m_transaction(transaction)
{
    m_transaction.batch = [this](bool committed) {
        if (m_held > 0 && !committed)
            m_lost = true;
        m_held = 0;
    };
}

Batch::~Batch()
{
    m_transaction.batch = nullptr;
    m_transaction.rollback();
}

} // namespace core
