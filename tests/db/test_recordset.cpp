#include <gtest/gtest.h>

#include "db/recordset.h"
#include "core/errors.h"

namespace {

long errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const platform::Error& e) {
        return e.number();
    }
    return -1;
}

}  // namespace

// Callers trap these errors (a missing field, reading past the end), so they
// must be raised, not crash.
TEST(Recordset, MisuseRaisesAndCloseRecordsetIsSafe) {
    auto rs = std::make_shared<Recordset>();
    rs->AppendField(QStringLiteral("Name"), 100);
    EXPECT_EQ(errorOf([&] { rs->AppendField(QStringLiteral("Name"), 1); }), 3367);
    rs->Open();
    rs->AddNew();
    rs->SetValue(0, QStringLiteral("a"));
    rs->Update();
    EXPECT_EQ(rs->Fields(QStringLiteral("name")).Value(), "a");  // letter case ignored as a fallback
    EXPECT_EQ(errorOf([&] { rs->Fields(QStringLiteral("nope")); }), 3265);
    const Field f = rs->Fields(0);
    rs->MoveNext();
    EXPECT_EQ(errorOf([&] { f.Value(); }), 3021);

    RecordsetPtr other = rs;
    CloseRecordset(rs);
    EXPECT_FALSE(rs);
    EXPECT_EQ(other->State(), 0);
    EXPECT_EQ(errorOf([&] { f.Name(); }), 3265);  // a handle outliving Close
    CloseRecordset(other);  // already closed: only released
    CloseRecordset(other);  // empty: nothing
    EXPECT_FALSE(other);
}
