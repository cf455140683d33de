#include "formats/versioninfo.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "core/errors.h"
#include "formats/vbval.h"

namespace {

// ---- Building a block.

class BlockWriter {
public:
    qsizetype pos() const { return b_.size(); }
    void u16(quint16 v) {
        b_.append(char(v & 0xFF));
        b_.append(char(v >> 8));
    }
    void u32(quint32 v) {
        u16(quint16(v & 0xFFFF));
        u16(quint16(v >> 16));
    }
    void text(const QString& s) {  // UTF-16LE with its NUL
        for (QChar c : s) u16(c.unicode());
        u16(0);
    }
    void align() {
        while (b_.size() % 4) b_.append('\0');
    }
    // wLength, wValueLength, wType, key, padding.
    qsizetype begin(const QString& key, quint16 valueLength, quint16 type) {
        align();
        const qsizetype start = pos();
        u16(0);
        u16(valueLength);
        u16(type);
        text(key);
        align();
        return start;
    }
    void end(qsizetype start) {
        const auto len = static_cast<quint16>(std::min<qsizetype>(pos() - start, 0xFFFF));
        b_[start] = char(len & 0xFF);
        b_[start + 1] = char(len >> 8);
    }
    QByteArray bytes() const { return b_; }

private:
    QByteArray b_;
};

// "1.0.0.3" or "1, 0, 0, 3" -> the two 32-bit halves of the fixed info.
std::pair<quint32, quint32> PackVersion(const QString& text) {
    quint16 part[4] = {0, 0, 0, 0};
    int k = 0;
    quint32 cur = 0;
    bool any = false;
    for (QChar c : text + QLatin1Char('.')) {
        if (c.unicode() >= '0' && c.unicode() <= '9') {
            cur = std::min<quint32>(cur * 10 + (c.unicode() - '0'), 0xFFFF);
            any = true;
        } else if (c == u'.' || c == u',') {
            if (k < 4) part[k++] = any ? quint16(cur) : 0;
            cur = 0;
            any = false;
        } else if (c != u' ') {
            break;  // "1.0 beta": the numbers so far
        }
    }
    return {quint32(part[0]) << 16 | part[1], quint32(part[2]) << 16 | part[3]};
}

const QString& Lookup(const std::vector<std::pair<QString, QString>>& strings, const QString& key) {
    static const QString none;
    for (const auto& kv : strings)
        if (kv.first == key) return kv.second;
    return none;
}

// ---- Reading the texts.

const char kKeyList[] =
    "CompanyName;FileDescription;FileVersion;InternalName;LegalCopyright;OriginalFilename;ProductName;"
    "ProductVersion;Comments;LegalTrademarks;PrivateBuild;SpecialBuild;Language";

QString Utf16Text(const QByteArray& block) {
    QString t(block.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < t.size(); ++i)
        t[i] = QChar(quint16(quint8(block[2 * i]) | quint16(quint8(block[2 * i + 1])) << 8));
    return t;
}

QString TextEntry(const QString& t, const QString& key) {
    const qsizetype m = t.indexOf(QChar(1) + key);
    if (m < 0) return key + QStringLiteral(": Not specified");
    const qsizetype p = m + 1 + key.size();  // just after the key
    qsizetype start = p;
    if (p + 1 < t.size() && t[p + 1].isNull()) {
        start = p + 2;  // the key's NUL and one NUL of padding
    } else if (p < t.size() && t[p].isNull()) {
        start = p + 1;
    }
    // The entry's own length (the word two before the type word) bounds the
    // value, so that a value stored without its NUL does not run into the
    // next entry. An implausible length is ignored.
    qsizetype limit = t.size();
    if (m >= 2) {
        const qsizetype end = (m - 2) + t[m - 2].unicode() / 2;
        if (end > p && end <= t.size()) limit = end;
    }
    qsizetype stop = start;
    while (stop < limit && !t[stop].isNull()) ++stop;
    return key + QStringLiteral(": ") + t.mid(start, std::max<qsizetype>(stop - start, 0));
}

QString LanguageName(quint16 id) {
    switch (id) {
        case 0x0412: return QStringLiteral("Korean");
        case 0x0409: return QStringLiteral("English (United States)");
        case 0x0809: return QStringLiteral("English (United Kingdom)");
        case 0x0411: return QStringLiteral("Japanese");
        case 0x0804: return QStringLiteral("Chinese (Simplified)");
        case 0x0404: return QStringLiteral("Chinese (Traditional)");
        case 0x0407: return QStringLiteral("German (Germany)");
        case 0x040C: return QStringLiteral("French (France)");
        case 0x0000: return QStringLiteral("Language Neutral");
        default: return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0')).toUpper();
    }
}

// The first string table after "StringFileInfo": type word 1, then a key of
// eight hex digits (language, code page) and its NUL.
QString LanguageEntry(const QString& t) {
    const QString label = QStringLiteral("Language");
    qsizetype i = t.indexOf(QChar(1) + QStringLiteral("StringFileInfo"));
    if (i < 0) return label;
    for (i = t.indexOf(QChar(1), i + 1); i >= 0 && i + 9 < t.size(); i = t.indexOf(QChar(1), i + 1)) {
        const QString key = t.mid(i + 1, 8);
        bool hex = t[i + 9].isNull();
        for (QChar c : key) hex = hex && QStringLiteral("0123456789abcdefABCDEF").contains(c);
        if (!hex) continue;
        return label + QStringLiteral(": ") + LanguageName(quint16(key.left(4).toUInt(nullptr, 16)));
    }
    return label;
}

QStringList VerInfo(const QString& path) { return GetFileVerInfoFromBlock(ReadVersionBlock(path)); }

// Format(x, "0"): a whole number, halves away from zero, no grouping.
QString WholeNumberText(double v) {
    const double r = std::round(v);
    if (std::fabs(r) < 1e15) return QString::number(static_cast<qlonglong>(r));
    return QString::number(r, 'f', 0);
}

const QString kProc = QStringLiteral("GetFileVer");
const QString kModule = QStringLiteral("mdlFile");

}  // namespace

QByteArray BuildVersionBlock(const std::vector<std::pair<QString, QString>>& strings, quint16 langId,
                             quint16 codePage) {
    BlockWriter w;
    const qsizetype root = w.begin(QStringLiteral("VS_VERSION_INFO"), 52, 0);
    const QString fileVersion = Lookup(strings, QStringLiteral("FileVersion"));
    QString productVersion = Lookup(strings, QStringLiteral("ProductVersion"));
    if (productVersion.isEmpty()) productVersion = fileVersion;
    const auto [fileMs, fileLs] = PackVersion(fileVersion);
    const auto [prodMs, prodLs] = PackVersion(productVersion);
    w.u32(0xFEEF04BD);  // signature
    w.u32(0x00010000);  // structure version
    w.u32(fileMs);
    w.u32(fileLs);
    w.u32(prodMs);
    w.u32(prodLs);
    w.u32(0x3F);        // flags mask
    w.u32(0);           // flags
    w.u32(0x00040004);  // 32-bit Windows NT
    w.u32(1);           // application
    w.u32(0);           // subtype
    w.u32(0);           // date
    w.u32(0);

    const qsizetype sfi = w.begin(QStringLiteral("StringFileInfo"), 0, 1);
    const QString tableKey = QStringLiteral("%1%2")
                                 .arg(langId, 4, 16, QLatin1Char('0'))
                                 .arg(codePage, 4, 16, QLatin1Char('0'))
                                 .toUpper();
    const qsizetype table = w.begin(tableKey, 0, 1);
    for (const auto& [key, value] : strings) {
        // The value length counts 16-bit characters with the NUL.
        const auto chars = static_cast<quint16>(std::min<qsizetype>(value.size() + 1, 0xFFFF));
        const qsizetype s = w.begin(key, chars, 1);
        w.text(value);
        w.end(s);
    }
    w.end(table);
    w.end(sfi);

    const qsizetype vfi = w.begin(QStringLiteral("VarFileInfo"), 0, 1);
    const qsizetype var = w.begin(QStringLiteral("Translation"), 4, 0);
    w.u16(langId);
    w.u16(codePage);
    w.end(var);
    w.end(vfi);
    w.end(root);
    return w.bytes();
}

QStringList GetFileVerInfoFromBlock(const QByteArray& block) {
    if (block.isEmpty()) return {};
    const QString t = Utf16Text(block);
    const QStringList keys = QString::fromLatin1(kKeyList).split(QLatin1Char(';'));
    QStringList out;
    for (qsizetype k = 0; k < 12; ++k) out << TextEntry(t, keys[k]);
    out << LanguageEntry(t);
    return out;
}

QStringList GetFileVerInfo(const QString& Path) {
    QStringList entries;
    core::TrapErrors(kProc, kModule, core::ModuleKind::Module, [&] { entries = VerInfo(Path); });
    return entries;
}

QString GetFileVer(const QString& Path, bool KeepLast, bool Silent) {
    QString result;
    try {
        const QStringList entries = VerInfo(Path);
        if (entries.size() < 3) throw core::RuntimeError(core::err::SubscriptOutOfRange);
        const QString& entry = entries[2];
        result = entry.mid(entry.indexOf(QLatin1Char(' ')) + 1);
        const qsizetype dot = result.lastIndexOf(QLatin1Char('.'));
        if (KeepLast) {
            const QString rest = result.mid(dot + 1);
            double v = 0;
            result = result.left(dot + 1) + (ReadWholeNumber(rest, v) ? WholeNumberText(v) : rest);
        } else {
            if (dot < 0) throw core::RuntimeError(core::err::InvalidProcedureCall);
            result = result.left(dot);
        }
    } catch (const std::exception&) {
        if (!Silent) core::ReportCurrentException(kProc, kModule);
    }
    return result;
}
