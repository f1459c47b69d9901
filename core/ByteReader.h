// The one little-endian reader over a (pointer, length) pair. Every field of
// every on-disk structure is read through it, so bounds and byte order are
// handled here and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tessaroo
{
class ByteReader
{
  public:
    ByteReader(const void* data, size_t len) : m_p(static_cast<const uint8_t*>(data)), m_len(data ? len : 0)
    {
    }

    size_t Size() const { return m_len; }
    const uint8_t* Data() const { return m_p; }

    // True when n bytes at off lie inside the buffer (written so it cannot wrap).
    bool Fits(size_t off, size_t n) const { return off <= m_len && n <= m_len - off; }

    bool ReadU8(size_t off, uint8_t& v) const
    {
        if (!Fits(off, 1))
            return false;
        v = m_p[off];
        return true;
    }
    bool ReadU16(size_t off, uint16_t& v) const
    {
        if (!Fits(off, 2))
            return false;
        v = static_cast<uint16_t>(m_p[off] | (m_p[off + 1] << 8));
        return true;
    }
    bool ReadU32(size_t off, uint32_t& v) const
    {
        if (!Fits(off, 4))
            return false;
        v = static_cast<uint32_t>(m_p[off]) | (static_cast<uint32_t>(m_p[off + 1]) << 8) |
            (static_cast<uint32_t>(m_p[off + 2]) << 16) | (static_cast<uint32_t>(m_p[off + 3]) << 24);
        return true;
    }
    bool ReadU64(size_t off, uint64_t& v) const
    {
        uint32_t lo = 0, hi = 0;
        if (!Fits(off, 8) || !ReadU32(off, lo) || !ReadU32(off + 4, hi))
            return false;
        v = (static_cast<uint64_t>(hi) << 32) | lo;
        return true;
    }
    // Reads a little-endian unsigned value of 1 to 8 bytes (NTFS run lists).
    bool ReadUN(size_t off, size_t width, uint64_t& v) const
    {
        if (width == 0 || width > 8 || !Fits(off, width))
            return false;
        uint64_t r = 0;
        for (size_t i = 0; i < width; ++i)
            r |= static_cast<uint64_t>(m_p[off + i]) << (8 * i);
        v = r;
        return true;
    }
    // The same, sign-extended from its top byte (NTFS run offsets).
    bool ReadSN(size_t off, size_t width, int64_t& v) const
    {
        uint64_t u = 0;
        if (!ReadUN(off, width, u))
            return false;
        if (width < 8 && (u >> (8 * width - 1)) & 1)
            u |= ~uint64_t(0) << (8 * width);
        v = static_cast<int64_t>(u);
        return true;
    }
    bool ReadBytes(size_t off, void* dst, size_t n) const
    {
        if (!Fits(off, n))
            return false;
        if (n)
            std::memcpy(dst, m_p + off, n);
        return true;
    }
    // True when the n bytes at off equal text (no terminator compared).
    bool Matches(size_t off, const void* text, size_t n) const
    {
        return Fits(off, n) && std::memcmp(m_p + off, text, n) == 0;
    }

    // Unchecked-by-caller conveniences: 0 when the field does not fit.
    uint8_t U8(size_t off) const
    {
        uint8_t v = 0;
        ReadU8(off, v);
        return v;
    }
    uint16_t U16(size_t off) const
    {
        uint16_t v = 0;
        ReadU16(off, v);
        return v;
    }
    uint32_t U32(size_t off) const
    {
        uint32_t v = 0;
        ReadU32(off, v);
        return v;
    }
    uint64_t U64(size_t off) const
    {
        uint64_t v = 0;
        ReadU64(off, v);
        return v;
    }

  private:
    const uint8_t* m_p;
    size_t m_len;
};

// Walks a buffer forward; every read advances the cursor and fails without
// moving it when the field does not fit.
class ByteCursor
{
  public:
    ByteCursor(const void* data, size_t len, size_t pos = 0) : m_r(data, len), m_pos(pos) {}
    size_t Pos() const { return m_pos; }
    size_t Remaining() const { return m_pos <= m_r.Size() ? m_r.Size() - m_pos : 0; }
    bool Skip(size_t n)
    {
        if (!m_r.Fits(m_pos, n))
            return false;
        m_pos += n;
        return true;
    }
    bool ReadU8(uint8_t& v) { return Step(m_r.ReadU8(m_pos, v), 1); }
    bool ReadU16(uint16_t& v) { return Step(m_r.ReadU16(m_pos, v), 2); }
    bool ReadU32(uint32_t& v) { return Step(m_r.ReadU32(m_pos, v), 4); }
    bool ReadU64(uint64_t& v) { return Step(m_r.ReadU64(m_pos, v), 8); }
    bool ReadUN(size_t w, uint64_t& v) { return Step(m_r.ReadUN(m_pos, w, v), w); }
    bool ReadSN(size_t w, int64_t& v) { return Step(m_r.ReadSN(m_pos, w, v), w); }

  private:
    bool Step(bool ok, size_t n)
    {
        if (ok)
            m_pos += n;
        return ok;
    }
    ByteReader m_r;
    size_t m_pos;
};

// Little-endian stores into a caller's record buffer (test builders, nodes).
inline void PutU16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutU64(uint8_t* p, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
} // namespace tessaroo
