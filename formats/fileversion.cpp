// The raw version block read straight from the file's bytes, the same way on
// every system: the companions are stamped PE files on Windows and ELF files
// here, and the launcher reads either.
#include "formats/fileversion.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Bounds-checked little- or big-endian reads over untrusted file bytes.
class Reader {
public:
    explicit Reader(const QByteArray& b, bool bigEndian = false) : b_(b), big_(bigEndian) {}
    quint64 size() const { return static_cast<quint64>(b_.size()); }
    bool has(quint64 off, quint64 len) const { return off <= size() && len <= size() - off; }
    bool u8(quint64 off, quint8& v) const { return read(off, 1, v); }
    bool u16(quint64 off, quint16& v) const { return read(off, 2, v); }
    bool u32(quint64 off, quint32& v) const { return read(off, 4, v); }
    bool u64(quint64 off, quint64& v) const { return read(off, 8, v); }
    QByteArray mid(quint64 off, quint64 len) const {
        return has(off, len) ? b_.mid(static_cast<qsizetype>(off), static_cast<qsizetype>(len)) : QByteArray();
    }
    const char* at(quint64 off) const { return b_.constData() + off; }

private:
    template <typename T>
    bool read(quint64 off, int len, T& v) const {
        if (!has(off, static_cast<quint64>(len))) return false;
        quint64 x = 0;
        for (int i = 0; i < len; ++i) {
            const quint64 byte = static_cast<quint8>(b_[static_cast<qsizetype>(off) + i]);
            x |= byte << (8 * (big_ ? len - 1 - i : i));
        }
        v = static_cast<T>(x);
        return true;
    }
    const QByteArray& b_;
    bool big_;
};

// ---- PE: resource directory -> RT_VERSION -> first name -> first language.

struct PeSection {
    quint32 va, vsize, rawSize, rawPtr;
};

class PeImage {
public:
    explicit PeImage(const QByteArray& bytes) : r_(bytes) {}

    QByteArray versionResource() {
        quint16 mz = 0;
        quint32 lfanew = 0, sig = 0;
        if (!r_.u16(0, mz) || mz != 0x5A4D || !r_.u32(0x3C, lfanew)) return {};
        if (!r_.u32(lfanew, sig) || sig != 0x00004550) return {};
        const quint64 coff = quint64(lfanew) + 4;
        quint16 nsec = 0, optSize = 0, magic = 0;
        if (!r_.u16(coff + 2, nsec) || !r_.u16(coff + 16, optSize)) return {};
        const quint64 opt = coff + 20;
        if (!r_.u16(opt, magic)) return {};
        quint64 countAt = 0, dirsAt = 0;
        if (magic == 0x10B) {
            countAt = 92, dirsAt = 96;
        } else if (magic == 0x20B) {
            countAt = 108, dirsAt = 112;
        } else {
            return {};
        }
        // The resource table is data directory 2.
        quint32 dirCount = 0, rsrcRva = 0;
        if (optSize < dirsAt + 3 * 8 || !r_.u32(opt + countAt, dirCount) || dirCount < 3) return {};
        if (!r_.u32(opt + dirsAt + 2 * 8, rsrcRva) || rsrcRva == 0) return {};
        const quint64 table = opt + optSize;
        for (quint16 i = 0; i < nsec; ++i) {
            const quint64 h = table + quint64(i) * 40;
            PeSection s{};
            if (!r_.u32(h + 8, s.vsize) || !r_.u32(h + 12, s.va) || !r_.u32(h + 16, s.rawSize) ||
                !r_.u32(h + 20, s.rawPtr))
                return {};
            sections_.push_back(s);
        }
        rsrc_ = rsrcRva;

        quint64 level = 0;  // offsets inside the resource table
        if (!findSubdir(level, /*wantedId=*/16, level)) return {};
        if (!findSubdir(level, /*first*/ -1, level)) return {};
        quint32 entryName = 0, entryOff = 0;
        if (!firstEntry(level, entryName, entryOff) || (entryOff & 0x80000000u)) return {};
        quint32 dataRva = 0, dataSize = 0;
        quint64 off = 0;
        if (!map(rsrc_ + quint64(entryOff), 16, off) || !r_.u32(off, dataRva) || !r_.u32(off + 4, dataSize))
            return {};
        if (!map(dataRva, dataSize, off)) return {};
        return r_.mid(off, dataSize);
    }

private:
    // File offset of `len` bytes at `rva`, all inside one section's raw data.
    bool map(quint64 rva, quint64 len, quint64& off) const {
        for (const PeSection& s : sections_) {
            if (rva < s.va) continue;
            const quint64 rel = rva - s.va;
            if (rel >= std::max(s.vsize, s.rawSize) || rel > s.rawSize || len > s.rawSize - rel) continue;
            off = quint64(s.rawPtr) + rel;
            return r_.has(off, len);
        }
        return false;
    }

    bool directory(quint64 dirOff, quint32& count, quint64& entries) const {
        quint64 off = 0;
        quint16 named = 0, ids = 0;
        if (!map(rsrc_ + dirOff, 16, off) || !r_.u16(off + 12, named) || !r_.u16(off + 14, ids)) return false;
        count = quint32(named) + ids;
        entries = dirOff + 16;
        return true;
    }

    bool entry(quint64 entryOff, quint32& name, quint32& target) const {
        quint64 off = 0;
        return map(rsrc_ + entryOff, 8, off) && r_.u32(off, name) && r_.u32(off + 4, target);
    }

    bool firstEntry(quint64 dirOff, quint32& name, quint32& target) const {
        quint32 count = 0;
        quint64 entries = 0;
        return directory(dirOff, count, entries) && count > 0 && entry(entries, name, target);
    }

    // The subdirectory of the entry with numeric id `wantedId`, or of the
    // first entry when `wantedId` is negative.
    bool findSubdir(quint64 dirOff, qint64 wantedId, quint64& sub) const {
        quint32 count = 0;
        quint64 entries = 0;
        if (!directory(dirOff, count, entries)) return false;
        for (quint32 k = 0; k < count; ++k) {
            quint32 name = 0, target = 0;
            if (!entry(entries + quint64(k) * 8, name, target)) return false;
            const bool match = wantedId < 0 || (!(name & 0x80000000u) && name == quint64(wantedId));
            if (!match) continue;
            if (!(target & 0x80000000u)) return false;
            sub = target & 0x7FFFFFFFu;
            return true;
        }
        return false;
    }

    Reader r_;
    std::vector<PeSection> sections_;
    quint64 rsrc_ = 0;
};

// ---- ELF: the section ".orvel_version".

QByteArray ElfVersionSection(const QByteArray& bytes) {
    static const char kName[] = ".orvel_version";
    if (bytes.size() < 16 || !bytes.startsWith("\x7f" "ELF")) return {};
    const int cls = bytes[4], data = bytes[5];
    if ((cls != 1 && cls != 2) || (data != 1 && data != 2)) return {};
    const bool is64 = cls == 2;
    const Reader r(bytes, data == 2);
    quint64 shoff = 0;
    quint16 entsize = 0, shnum16 = 0, strndx16 = 0;
    bool ok = is64 ? r.u64(0x28, shoff) && r.u16(0x3A, entsize) && r.u16(0x3C, shnum16) && r.u16(0x3E, strndx16)
                   : [&] {
                         quint32 o = 0;
                         const bool got = r.u32(0x20, o) && r.u16(0x2E, entsize) && r.u16(0x30, shnum16) &&
                                          r.u16(0x32, strndx16);
                         shoff = o;
                         return got;
                     }();
    if (!ok || shoff == 0 || entsize < (is64 ? 64 : 40)) return {};

    struct Section {
        quint32 name = 0, type = 0, link = 0;
        quint64 offset = 0, size = 0;
    };
    auto section = [&](quint64 i, Section& s) {
        const quint64 h = shoff + i * entsize;
        if (!r.has(h, entsize)) return false;
        if (is64) return r.u32(h, s.name) && r.u32(h + 4, s.type) && r.u64(h + 24, s.offset) &&
                         r.u64(h + 32, s.size) && r.u32(h + 40, s.link);
        quint32 o = 0, z = 0;
        const bool got = r.u32(h, s.name) && r.u32(h + 4, s.type) && r.u32(h + 16, o) && r.u32(h + 20, z) &&
                         r.u32(h + 24, s.link);
        s.offset = o;
        s.size = z;
        return got;
    };
    // Many sections: the count and the string-table index move to section 0.
    quint64 shnum = shnum16, strndx = strndx16;
    Section zero;
    if ((shnum == 0 || strndx == 0xFFFF) && !section(0, zero)) return {};
    if (shnum == 0) shnum = zero.size;
    if (strndx == 0xFFFF) strndx = zero.link;
    if (shnum == 0 || shnum > r.size() / entsize || strndx >= shnum) return {};
    Section strtab;
    if (!section(strndx, strtab) || !r.has(strtab.offset, strtab.size)) return {};
    for (quint64 i = 0; i < shnum; ++i) {
        Section s;
        if (!section(i, s)) return {};
        if (s.name >= strtab.size || strtab.size - s.name < sizeof kName) continue;
        if (std::memcmp(r.at(strtab.offset + s.name), kName, sizeof kName) != 0) continue;
        if (s.type == 8 /* no bits in the file */ || !r.has(s.offset, s.size)) return {};
        return r.mid(s.offset, s.size);
    }
    return {};
}

}  // namespace

QByteArray ExtractVersionBlock(const QByteArray& fileBytes) {
    if (fileBytes.startsWith("MZ")) return PeImage(fileBytes).versionResource();
    return ElfVersionSection(fileBytes);
}

QByteArray ReadVersionBlock(const QString& path) {
    constexpr qint64 kCap = 256LL * 1024 * 1024;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return ExtractVersionBlock(f.read(kCap));
}

