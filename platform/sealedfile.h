#pragma once
// Bytes the program holds, readable by path for a library that only takes a
// file name (a CA certificate for the database client), and that nobody can
// change or swap while the object lives. Removed when it is destroyed.
#include <QByteArray>
#include <QString>
#include <memory>

namespace platform {

class SealedFile {
public:
    SealedFile();
    ~SealedFile();
    SealedFile(const SealedFile&) = delete;
    SealedFile& operator=(const SealedFile&) = delete;

    // False when the file could not be made.
    bool create(const QByteArray& bytes);
    // The path to hand to the library; empty before create succeeded.
    QString path() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace platform
