#include <gtest/gtest.h>

#include "db/recordset.h"
#include "platform/errors.h"

namespace {

long errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const platform::Error& e) {
        return e.number();
    }
    return -1;
}

RecordsetPtr twoRows() {
    auto rs = std::make_shared<Recordset>();
    rs->AppendField(QStringLiteral("id"), 11);
    rs->AppendField(QStringLiteral("Name"), 100);
    rs->Open();
    for (const char* n : {"a", "b"}) {
        rs->AddNew();
        rs->SetValue(0, QString::fromLatin1(n).toUpper());
        rs->SetValue(1, QString::fromLatin1(n));
    }
    rs->Update();
    rs->MoveFirst();
    return rs;
}

}  // namespace

TEST(Recordset, LookupNavigationAndMisuse) {
    RecordsetPtr rs = twoRows();
    EXPECT_EQ(rs->Fields(QStringLiteral("Name")).Value(), "a");
    EXPECT_EQ(rs->Fields(QStringLiteral("name")).Value(), "a");  // letter case ignored as a fallback
    EXPECT_EQ(rs->Fields(1).DefinedSize(), 100);
    EXPECT_EQ(rs->Fields(0).Type(), "text");
    EXPECT_EQ(errorOf([&] { rs->Fields(QStringLiteral("nope")); }), 3265);
    EXPECT_EQ(errorOf([&] { rs->Fields(2); }), 3265);
    EXPECT_EQ(errorOf([&] { rs->AppendField(QStringLiteral("x"), 1); }), 3219);

    const Field id = rs->Fields(0);  // reads whatever row is current
    rs->MoveNext();
    EXPECT_EQ(id.Value(), "B");
    rs->MoveNext();
    EXPECT_TRUE(rs->IsEOF());
    EXPECT_EQ(errorOf([&] { id.Value(); }), 3021);
    EXPECT_EQ(errorOf([&] { rs->MoveNext(); }), 3021);

    Recordset dup;
    dup.AppendField(QStringLiteral("x"), 1);
    EXPECT_EQ(errorOf([&] { dup.AppendField(QStringLiteral("x"), 1); }), 3367);
    dup.AppendField(QStringLiteral("X"), 1);  // names differing in case are distinct

    rs->Close();
    EXPECT_EQ(rs->State(), 0);
    EXPECT_EQ(errorOf([&] { rs->RecordCount(); }), 3704);
    EXPECT_EQ(errorOf([&] { id.Name(); }), 3265);  // a handle outliving Close does not crash
}

TEST(Recordset, CloseRecordsetOnEmptyOpenAndClosed) {
    RecordsetPtr empty;
    CloseRecordset(empty);
    EXPECT_FALSE(empty);

    RecordsetPtr open = twoRows();
    std::weak_ptr<Recordset> watch = open;
    RecordsetPtr other = open;
    CloseRecordset(open);
    EXPECT_FALSE(open);
    EXPECT_EQ(other->State(), 0);

    CloseRecordset(other);  // already closed: only released
    EXPECT_TRUE(watch.expired());
}
