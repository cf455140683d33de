// orvel-stamp-version OUT Key=Value...: writes a version block built from
// the texts given, for the build to put into an executable's
// ".orvel_version" section.
#include <QFile>
#include <QString>
#include <cstdio>

#include "formats/versioninfo.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUT.bin Key=Value [Key=Value ...]\n", argc > 0 ? argv[0] : "orvel-stamp-version");
        return 2;
    }
    std::vector<std::pair<QString, QString>> strings;
    for (int i = 2; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const qsizetype eq = arg.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            std::fprintf(stderr, "orvel-stamp-version: \"%s\" is not Key=Value\n", argv[i]);
            return 2;
        }
        strings.emplace_back(arg.left(eq), arg.mid(eq + 1));
    }
    const QByteArray block = BuildVersionBlock(strings);
    // Every length in the block is a 16-bit word.
    if (block.size() > 0xFFFF) {
        std::fprintf(stderr, "orvel-stamp-version: the texts make a block of %lld bytes, more than 65535\n",
                     static_cast<long long>(block.size()));
        return 1;
    }
    QFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(block) != block.size() || !out.flush()) {
        std::fprintf(stderr, "orvel-stamp-version: cannot write %s: %s\n", argv[1],
                     out.errorString().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
