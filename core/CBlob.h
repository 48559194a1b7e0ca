// The one byte container of the system: every wire and file format is written
// by serializing fields into a CBlob one after another and read back by taking
// them out in the same order.
//
// Reading outside data is checked at every step. A read that would run past
// the end (or a stored SYSTEMTIME length other than 16) takes nothing, zeroes
// its target and marks the blob malformed; the mark sticks, so every later
// read of the same record fails too and a decoder only has to test
// isMalformed() once at the end. Writes past the allocated size are refused
// the same way instead of corrupting memory.
#pragma once

#include <cstdint>
#include <string>

#include "core/export.h"
#include "platform/win32.h"

namespace tesel {

// Non-owning view: byte count, then pointer (the CryptoAPI data blob pair).
struct BLOB {
    std::uint32_t cbData;
    unsigned char* pbData;
};

class UPD_QN_API CBlob {
public:
    CBlob() = default;
    explicit CBlob(unsigned n);
    CBlob(const unsigned char* p, unsigned n);
    explicit CBlob(const BLOB* b);
    CBlob(const CBlob& other);
    // The bytes of src from `start` up to `exclude` bytes before its end
    // (src.size - exclude bytes at src.data + start).
    CBlob(const CBlob& src, unsigned start, unsigned exclude);
    CBlob(CBlob&& other) noexcept;
    CBlob& operator=(const CBlob& other);
    CBlob& operator=(CBlob&& other) noexcept;
    ~CBlob();

    void init(const unsigned char* p, unsigned n);
    void init(const BLOB* b);
    void init(const CBlob* b);
    void allocate(unsigned n);
    void clear();
    // Changes the size to n bytes, keeping the first min(size, n) bytes (the
    // new ones are uninitialised). Growing and shrinking a large block moves
    // no bytes where the system can remap it. The cursor moves back to n when
    // it was past it; the malformed mark stays.
    void resize(unsigned n);

    // Growing operations.
    void add(const unsigned char* p, unsigned n);
    void add(const CBlob* b);
    void add(const CBlob& b);
    void append(const CBlob& b);

    // Writing at the cursor (the block must already be large enough).
    void serialize(unsigned v);
    void serialize(int v);
    void serialize(unsigned long v);
    void serialize(bool v);
    void serialize(const std::string& s);
    void serialize(const CBlob* b);
    void serialize(const BLOB& b);
    void serialize(const SYSTEMTIME* st);
    void serialize(const void* p, unsigned n);
    void serialize(const char*) = delete;  // would silently pick the bool overload
    void copy(unsigned dstOffset, const CBlob* src, unsigned srcOffset, unsigned n);

    CBlob& operator<<(unsigned v);
    CBlob& operator<<(const std::string& s);
    CBlob& operator<<(const CBlob* b);
    CBlob& operator<<(const CBlob& b);
    CBlob& operator<<(const BLOB& b);

    // Reading at the cursor.
    void deserialize(unsigned& v);
    void deserialize(int& v);
    void deserialize(bool& v);
    void deserialize(std::string* s);
    void deserialize(CBlob* b);
    // A length-prefixed field as a view of its bytes inside this blob, not a
    // copy: valid while the blob lives and is neither resized nor replaced.
    // A field that runs past the end gives an empty view and the mark.
    void deserializeView(BLOB& view);
    void deserialize(SYSTEMTIME* st);
    void deserialize(void* p, unsigned n);
    bool deserializeCompare(const unsigned char* p, unsigned n);

    CBlob& operator>>(unsigned& v);
    CBlob& operator>>(std::string* s);
    CBlob& operator>>(CBlob* b);

    // Inspection.
    unsigned getSize() const { return m_size; }
    unsigned char* getData() const { return m_data; }
    unsigned getOffset() const { return m_offset; }
    BLOB getBLOB() const { return BLOB{m_size, m_data}; }
    bool isEmpty() const { return m_size == 0; }
    bool isCompleted() const { return m_offset == m_size; }
    // Bytes between the cursor and the end (0 when the cursor is past it).
    unsigned remaining() const { return m_offset < m_size ? m_size - m_offset : 0; }
    bool isEqual(const unsigned char* p, unsigned n) const;
    bool operator==(const CBlob& other) const;
    // Index from the start of data. Out of range gives a scratch zero byte
    // (and, for the non-const form, marks the blob malformed).
    unsigned char& operator[](unsigned i);
    const unsigned char& operator[](unsigned i) const;
    void forwardOffset(unsigned n);
    void moveOffset(unsigned n);
    std::string toHexString() const;

    // True once a read or write ran past the end of the block (sticky until
    // the contents are replaced by init, allocate or clear; assignment and
    // copying carry the mark of the source over).
    bool isMalformed() const { return m_failed; }
    void markMalformed() { m_failed = true; }

    // Sizes of encoded fields, for the first pass of two-pass writing.
    static constexpr unsigned sizeOfInt() { return 4; }
    static unsigned sizeOf(const std::string& s) { return 4 + static_cast<unsigned>(s.size()); }
    static unsigned sizeOf(const CBlob& b) { return 4 + b.getSize(); }
    static constexpr unsigned sizeOfSystemTime() { return 4 + 16; }

private:
    bool canWrite(unsigned n);
    bool canRead(unsigned n);
    void reset(unsigned n);
    void growTo(unsigned n);

    // size and data first: the same layout as BLOB.
    std::uint32_t m_size = 0;
    unsigned char* m_data = nullptr;
    std::uint32_t m_offset = 0;
    bool m_failed = false;
};

// A new blob holding s length-prefixed, its offset at the end.
UPD_QN_API CBlob serialize(const std::string& s);

}  // namespace tesel
