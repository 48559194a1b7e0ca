#include "core/CBlob.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "platform/memory.h"

namespace tesel {

namespace {

constexpr std::uint32_t kSystemTimeSize = 16;
static_assert(sizeof(SYSTEMTIME) == kSystemTimeSize, "SYSTEMTIME must be 16 bytes");

void putLe32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

std::uint32_t getLe32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// n bytes, not yet touched: a large block is advised onto large pages before
// anything is written into it.
unsigned char* allocateBlock(std::size_t n) {
    auto* d = static_cast<unsigned char*>(std::malloc(n));
    if (d == nullptr) throw std::bad_alloc();
    platform::adviseLargeBuffer(d, n);
    return d;
}

unsigned char* duplicate(const unsigned char* p, unsigned n) {
    if (n == 0 || p == nullptr) return nullptr;
    unsigned char* d = allocateBlock(n);
    std::memcpy(d, p, n);
    return d;
}

}  // namespace

CBlob::CBlob(unsigned n) { reset(n); }

CBlob::CBlob(const unsigned char* p, unsigned n) {
    m_data = duplicate(p, n);
    m_size = m_data ? n : 0;
}

CBlob::CBlob(const BLOB* b) : CBlob(b ? b->pbData : nullptr, b ? b->cbData : 0) {}

CBlob::CBlob(const CBlob& other)
    : m_size(0), m_data(duplicate(other.m_data, other.m_size)), m_offset(other.m_offset),
      m_failed(other.m_failed) {
    m_size = m_data ? other.m_size : 0;
}

CBlob::CBlob(const CBlob& src, unsigned start, unsigned exclude) {
    // A range that does not lie inside src gives an empty, malformed blob.
    if (exclude > src.m_size || start > src.m_size || src.m_size - exclude > src.m_size - start) {
        m_failed = true;
        return;
    }
    unsigned n = src.m_size - exclude;
    m_data = duplicate(src.m_data + start, n);
    m_size = m_data ? n : 0;
}

CBlob::CBlob(CBlob&& other) noexcept
    : m_size(other.m_size), m_data(other.m_data), m_offset(other.m_offset),
      m_failed(other.m_failed) {
    other.m_size = 0;
    other.m_data = nullptr;
    other.m_offset = 0;
    other.m_failed = false;
}

CBlob& CBlob::operator=(const CBlob& other) {
    if (this != &other) {
        init(other.m_data, other.m_size);
        // Contents taken from a malformed record stay untrusted.
        m_failed = other.m_failed;
    }
    return *this;
}

CBlob& CBlob::operator=(CBlob&& other) noexcept {
    if (this != &other) {
        std::free(m_data);
        m_size = other.m_size;
        m_data = other.m_data;
        m_offset = 0;  // as with copy assignment, the cursor starts over
        m_failed = other.m_failed;
        other.m_size = 0;
        other.m_data = nullptr;
        other.m_offset = 0;
        other.m_failed = false;
    }
    return *this;
}

CBlob::~CBlob() { std::free(m_data); }

void CBlob::init(const unsigned char* p, unsigned n) {
    if (p != nullptr && p == m_data) return;
    unsigned char* d = duplicate(p, n);
    std::free(m_data);
    m_data = d;
    m_size = d ? n : 0;
    m_offset = 0;
    m_failed = false;
}

void CBlob::init(const BLOB* b) {
    if (b) init(b->pbData, b->cbData);
    else clear();
}

void CBlob::init(const CBlob* b) {
    if (b) init(b->m_data, b->m_size);
    else clear();
}

void CBlob::reset(unsigned n) {
    std::free(m_data);
    m_data = nullptr;
    m_size = 0;
    m_offset = 0;
    m_failed = false;
    if (n > 0) {
        m_data = allocateBlock(n);
        m_size = n;
    }
}

void CBlob::allocate(unsigned n) { reset(n); }

void CBlob::clear() { reset(0); }

void CBlob::add(const unsigned char* p, unsigned n) {
    if (n == 0) return;
    if (p == nullptr || n > std::numeric_limits<std::uint32_t>::max() - m_size) {
        m_failed = true;
        return;
    }
    // p may point into our own block, which realloc can move.
    const auto addr = reinterpret_cast<std::uintptr_t>(p);
    const auto base = reinterpret_cast<std::uintptr_t>(m_data);
    const bool inside = m_data != nullptr && addr >= base && addr - base < m_size;
    const std::size_t at = inside ? static_cast<std::size_t>(addr - base) : 0;
    if (inside && n > m_size - at) {
        // The source runs past the end of our own block.
        m_failed = true;
        return;
    }
    growTo(m_size + n);
    std::memcpy(m_data + m_size - n, inside ? m_data + at : p, n);
}

void CBlob::growTo(unsigned n) {
    auto* d = static_cast<unsigned char*>(std::realloc(m_data, n));
    if (d == nullptr) throw std::bad_alloc();
    // The part behind the old end is untouched yet.
    if (n - m_size >= platform::kLargeBufferBytes) platform::adviseLargeBuffer(d + m_size, n - m_size);
    m_data = d;
    m_size = n;
}

void CBlob::resize(unsigned n) {
    if (n == m_size) return;
    if (n == 0) {
        std::free(m_data);
        m_data = nullptr;
        m_size = 0;
    } else if (n > m_size) {
        growTo(n);
    } else {
        // Shrinking in place: realloc may still move the block.
        auto* d = static_cast<unsigned char*>(std::realloc(m_data, n));
        if (d != nullptr) m_data = d;
        m_size = n;
    }
    if (m_offset > m_size) m_offset = m_size;
}

void CBlob::add(const CBlob* b) {
    if (b) add(b->m_data, b->m_size);
}

void CBlob::add(const CBlob& b) { add(b.m_data, b.m_size); }

void CBlob::append(const CBlob& b) {
    const std::uint32_t n = b.m_size;
    if (n > std::numeric_limits<std::uint32_t>::max() - 4 - m_size) {
        m_failed = true;
        return;
    }
    unsigned char lenBytes[4];
    putLe32(lenBytes, n);
    if (&b == this) {
        CBlob copyOfSelf(b.m_data, n);
        add(lenBytes, 4);
        add(copyOfSelf.m_data, n);
    } else {
        add(lenBytes, 4);
        add(b.m_data, n);
    }
    m_offset = m_size;
}

bool CBlob::canWrite(unsigned n) {
    if (m_failed || m_offset > m_size || n > m_size - m_offset) {
        m_failed = true;
        return false;
    }
    return true;
}

bool CBlob::canRead(unsigned n) { return canWrite(n); }

void CBlob::serialize(unsigned v) {
    if (!canWrite(4)) return;
    putLe32(m_data + m_offset, v);
    m_offset += 4;
}

void CBlob::serialize(int v) { serialize(static_cast<unsigned>(v)); }

void CBlob::serialize(unsigned long v) { serialize(static_cast<unsigned>(v)); }

void CBlob::serialize(bool v) {
    if (!canWrite(1)) return;
    m_data[m_offset++] = v ? 1 : 0;
}

void CBlob::serialize(const std::string& s) {
    const auto n = static_cast<unsigned>(s.size());
    if (s.size() > std::numeric_limits<std::uint32_t>::max() - 4u || !canWrite(4 + n)) {
        m_failed = true;
        return;
    }
    serialize(n);
    serialize(s.data(), n);
}

void CBlob::serialize(const CBlob* b) {
    const unsigned n = b ? b->m_size : 0;
    if (n > std::numeric_limits<std::uint32_t>::max() - 4u || !canWrite(4 + n)) {
        m_failed = true;
        return;
    }
    serialize(n);
    if (n) serialize(b->m_data, n);
}

void CBlob::serialize(const BLOB& b) {
    const unsigned n = b.pbData ? b.cbData : 0;
    if (n > std::numeric_limits<std::uint32_t>::max() - 4u || !canWrite(4 + n)) {
        m_failed = true;
        return;
    }
    serialize(n);
    if (n) serialize(b.pbData, n);
}

void CBlob::serialize(const SYSTEMTIME* st) {
    if (st == nullptr || !canWrite(4 + kSystemTimeSize)) {
        m_failed = true;
        return;
    }
    serialize(kSystemTimeSize);
    const WORD fields[8] = {st->wYear, st->wMonth,  st->wDayOfWeek, st->wDay,
                            st->wHour, st->wMinute, st->wSecond,    st->wMilliseconds};
    for (WORD f : fields) {
        m_data[m_offset++] = static_cast<unsigned char>(f);
        m_data[m_offset++] = static_cast<unsigned char>(f >> 8);
    }
}

void CBlob::serialize(const void* p, unsigned n) {
    if (n == 0) return;
    if (p == nullptr || !canWrite(n)) {
        m_failed = true;
        return;
    }
    std::memmove(m_data + m_offset, p, n);
    m_offset += n;
}

void CBlob::copy(unsigned dstOffset, const CBlob* src, unsigned srcOffset, unsigned n) {
    if (n == 0) return;
    if (src == nullptr || dstOffset > m_size || n > m_size - dstOffset || srcOffset > src->m_size ||
        n > src->m_size - srcOffset) {
        m_failed = true;
        return;
    }
    std::memmove(m_data + dstOffset, src->m_data + srcOffset, n);
}

CBlob& CBlob::operator<<(unsigned v) {
    serialize(v);
    return *this;
}

CBlob& CBlob::operator<<(const std::string& s) {
    serialize(s);
    return *this;
}

CBlob& CBlob::operator<<(const CBlob* b) {
    serialize(b);
    return *this;
}

CBlob& CBlob::operator<<(const CBlob& b) {
    serialize(&b);
    return *this;
}

CBlob& CBlob::operator<<(const BLOB& b) {
    serialize(b);
    return *this;
}

void CBlob::deserialize(unsigned& v) {
    v = 0;
    if (!canRead(4)) return;
    v = getLe32(m_data + m_offset);
    m_offset += 4;
}

void CBlob::deserialize(int& v) {
    unsigned u = 0;
    deserialize(u);
    v = static_cast<int>(u);
}

void CBlob::deserialize(bool& v) {
    v = false;
    if (!canRead(1)) return;
    v = m_data[m_offset++] != 0;
}

void CBlob::deserialize(std::string* s) {
    if (s) s->clear();
    const std::uint32_t start = m_offset;
    unsigned n = 0;
    deserialize(n);
    if (m_failed) return;
    if (!canRead(n)) {
        m_offset = start;
        return;
    }
    if (s) s->assign(reinterpret_cast<const char*>(m_data + m_offset), n);
    m_offset += n;
}

void CBlob::deserialize(CBlob* b) {
    BLOB view{};
    deserializeView(view);
    if (m_failed) {
        if (b && b != this) b->clear();
        return;
    }
    if (b == this) {
        // Reading a blob into itself: take the bytes out before replacing them.
        CBlob part(view.pbData, view.cbData);
        *this = std::move(part);
        return;
    }
    if (b) b->init(view.pbData, view.cbData);
}

void CBlob::deserializeView(BLOB& view) {
    view = BLOB{0, nullptr};
    const std::uint32_t start = m_offset;
    unsigned n = 0;
    deserialize(n);
    if (!m_failed && !canRead(n)) m_offset = start;
    if (m_failed) return;
    view = BLOB{n, n ? m_data + m_offset : nullptr};
    m_offset += n;
}

void CBlob::deserialize(SYSTEMTIME* st) {
    if (st) std::memset(st, 0, sizeof(*st));
    const std::uint32_t start = m_offset;
    unsigned n = 0;
    deserialize(n);
    if (m_failed) return;
    if (n != kSystemTimeSize || !canRead(n)) {
        m_failed = true;
        m_offset = start;
        return;
    }
    WORD fields[8];
    for (WORD& f : fields) {
        f = static_cast<WORD>(m_data[m_offset] | (m_data[m_offset + 1] << 8));
        m_offset += 2;
    }
    if (st) {
        st->wYear = fields[0];
        st->wMonth = fields[1];
        st->wDayOfWeek = fields[2];
        st->wDay = fields[3];
        st->wHour = fields[4];
        st->wMinute = fields[5];
        st->wSecond = fields[6];
        st->wMilliseconds = fields[7];
    }
}

void CBlob::deserialize(void* p, unsigned n) {
    if (n == 0) return;
    if (!canRead(n)) {
        if (p) std::memset(p, 0, n);
        return;
    }
    if (p) std::memcpy(p, m_data + m_offset, n);
    m_offset += n;
}

bool CBlob::deserializeCompare(const unsigned char* p, unsigned n) {
    if (n == 0) return true;
    if (!canRead(n)) return false;
    const bool same = p != nullptr && std::memcmp(m_data + m_offset, p, n) == 0;
    m_offset += n;
    return same;
}

CBlob& CBlob::operator>>(unsigned& v) {
    deserialize(v);
    return *this;
}

CBlob& CBlob::operator>>(std::string* s) {
    deserialize(s);
    return *this;
}

CBlob& CBlob::operator>>(CBlob* b) {
    deserialize(b);
    return *this;
}

bool CBlob::isEqual(const unsigned char* p, unsigned n) const {
    if (n == 0) return true;
    if (p == nullptr || m_offset > m_size || n > m_size - m_offset) return false;
    return std::memcmp(m_data + m_offset, p, n) == 0;
}

bool CBlob::operator==(const CBlob& other) const {
    if (m_size != other.m_size) return false;
    return m_size == 0 || std::memcmp(m_data, other.m_data, m_size) == 0;
}

unsigned char& CBlob::operator[](unsigned i) {
    if (i < m_size) return m_data[i];
    // Out of range: mark the blob and hand out a scratch byte instead of
    // touching memory outside the block.
    m_failed = true;
    thread_local unsigned char scratch;
    scratch = 0;
    return scratch;
}

const unsigned char& CBlob::operator[](unsigned i) const {
    static const unsigned char zero = 0;
    return i < m_size ? m_data[i] : zero;
}

void CBlob::forwardOffset(unsigned n) {
    if (n > std::numeric_limits<std::uint32_t>::max() - m_offset) {
        m_failed = true;
        return;
    }
    m_offset += n;
}

void CBlob::moveOffset(unsigned n) { m_offset = n; }

std::string CBlob::toHexString() const {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(std::size_t{m_size} * 2);
    for (std::uint32_t i = m_size; i > 0; --i) {
        const unsigned char b = m_data[i - 1];
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0F]);
    }
    return out;
}

CBlob serialize(const std::string& s) {
    CBlob b(CBlob::sizeOf(s));
    b.serialize(s);
    return b;
}

}  // namespace tesel
