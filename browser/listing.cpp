#include "browser/listing.h"

#include "browser/koreanstring.h"

namespace browser {

std::vector<ListLine> ReadListLines(inet::Handle* hConnect, const QString& remoteFolder, QChar groupSep) {
    std::vector<ListLine> lines;
    inet::FindData fd;
    inet::HInternet find = inet::FtpFindFirstFileA(hConnect, remoteFolder, fd,
                                                   inet::INTERNET_FLAG_RELOAD | inet::INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!find) return lines;
    do {
        // A name ends at its first NUL; an entry without a name is left out.
        QString name = fd.cFileName;
        const qsizetype nul = name.indexOf(QChar(u'\0'));
        if (nul >= 0) name.truncate(nul);
        if (name.isEmpty()) continue;
        lines.push_back({listline::FormatListLine(name, fd.ftLastWriteTime, fd.nFileSize, groupSep), name});
    } while (inet::InternetFindNextFileA(find.get(), fd));
    inet::InternetCloseHandle(find);
    return lines;
}

}  // namespace browser
