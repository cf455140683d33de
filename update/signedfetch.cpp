#include "update/signedfetch.h"

#include <QFileInfo>
#include <optional>

#include "core/log.h"
#include "formats/minisig.h"
#include "platform/files.h"
#include "update/webfetch.h"

namespace update {

namespace {

Verdict fetchSigned(const QString& url, const QString& localFile, const Expectation& expect, qint32* revision) {
    const QString suffix = QLatin1String(kSignatureSuffix);
    // The signature first: a file that cannot pass is not even fetched.
    const std::optional<QByteArray> sigBytes = FetchSmallResource(url + suffix, formats::kMinisigMaxBytes);
    if (!sigBytes) return Verdict::NoSignature;
    SignatureCheck check(*sigBytes, expect);
    if (check.early() != Verdict::Accepted) return check.early();

    // The signature stays beside the file: it is checked again before each
    // run. It is written in full before the file replaces the old one, so
    // that only its rename comes after; should that fail, the new file beside
    // the old signature fails the check and is never run.
    const QString sigPath = localFile + suffix;
    platform::WholeFile sigOut(sigPath);
    if (QFileInfo(sigPath).isDir() || !sigOut.open() || !sigOut.write(sigBytes->constData(), sigBytes->size()))
        return Verdict::NotDownloaded;

    Verdict verdict = Verdict::NotDownloaded;
    DownloadCheck rules;
    rules.maxBytes = kProgramMaxBytes;
    qint64 received = 0;
    rules.feed = [&](const char* data, qint64 size) {
        received += size;
        check.feed(data, size);
    };
    rules.accept = [&] {
        verdict = check.finish();
        return verdict == Verdict::Accepted;
    };
    QString u = url;
    QString local = localFile;
    if (!DownloadUrlToFile(u, local, true, rules)) {
        if (received > kProgramMaxBytes) return Verdict::TooLarge;
        return verdict == Verdict::Accepted ? Verdict::NotDownloaded : verdict;
    }

    if (!sigOut.commit(false)) return Verdict::NotDownloaded;
    *revision = check.revision();
    return Verdict::Accepted;
}

}  // namespace

Verdict DownloadSigned(const QString& url, const QString& localFile, const Expectation& expect) {
    qint32 revision = 0;
    const Verdict v = fetchSigned(url, localFile, expect, &revision);
    if (v == Verdict::Accepted)
        qCInfo(core::lcUpdate).noquote() << "downloaded" << url << "to" << localFile << "- signed for revision" << revision;
    else
        qCWarning(core::lcUpdate).noquote() << "refused" << url << "-" << VerdictText(v);
    return v;
}

}  // namespace update
