// Base of the stored records: a primary key.
#pragma once

template <typename Key>
class CModelORM {
public:
    virtual ~CModelORM() = default;

    Key getPrKey() const { return m_prKey; }
    void setPrKey(Key key) { m_prKey = key; }

protected:
    Key m_prKey{};
};

extern template class CModelORM<unsigned int>;
