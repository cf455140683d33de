#pragma once
// Downloads of files that are to be run: each comes with its signature and
// is kept only when the company signed it for this very name and revision.
#include <QString>

#include "update/signature.h"

namespace update {

// Downloads `url` into `localFile` and `url` + ".minisig" into `localFile` +
// ".minisig". Both are kept only when the signature verifies with the
// built-in key for `expect` and the file is at most kProgramMaxBytes; then
// the result is Accepted. Otherwise the refused download is gone and the
// files that were there before are left as they were; only when the
// signature cannot take its place after the file did is the new file left
// beside the old signature, which does not vouch for it.
Verdict DownloadSigned(const QString& url, const QString& localFile, const Expectation& expect);

}  // namespace update
