#pragma once
// The in-memory table that statements return: named text fields, rows of
// texts and a current row. Its rows are a copy, independent of the
// connection that produced them.
//
// Misuse raises platform::Error with these numbers:
//   3021 no current row (reading a value at the end, or of an empty table)
//   3265 no field of that name or position
//   3367 a field of that name exists already
//   3704 the recordset is closed
//   3219 building step out of order (a field appended after Open)
#include <QString>
#include <memory>
#include <vector>

class Recordset;
using RecordsetPtr = std::shared_ptr<Recordset>;

// A handle on one field of a recordset; Value() reads the recordset's
// current row at the time of the call.
class Field {
public:
    QString Name() const;
    QString Type() const;  // "text": every value is held as text
    int DefinedSize() const;
    QString Value() const;

private:
    friend class Recordset;
    Field(const Recordset* rs, int index) : rs_(rs), index_(index) {}
    const Recordset* rs_;
    int index_;
};

class Recordset {
public:
    Recordset() = default;

    // Building: append the fields, Open, then AddNew / SetValue per row and
    // Update to commit. AddNew makes the new row current.
    void AppendField(const QString& name, int definedSize);
    void Open();
    void AddNew();
    void SetValue(int position, const QString& value);
    void Update();

    // By exact name first; failing that, by name ignoring letter case.
    Field Fields(const QString& name) const;
    Field Fields(int position) const;  // 0-based
    int FieldCount() const;

    int RecordCount() const;
    void MoveFirst();
    void MoveNext();
    // True when no row is current (past the last row, or no rows at all).
    // Not called EOF: that name is a macro of the C library.
    bool IsEOF() const;

    int State() const { return open_ ? 1 : 0; }
    void Close();  // empties the table; State() is 0 afterwards

private:
    friend class Field;
    struct FieldDef {
        QString name;
        int definedSize = 0;
    };
    void requireOpen() const;
    const FieldDef& fieldAt(int field) const;
    const QString& valueAt(int field) const;

    bool open_ = false;
    std::vector<FieldDef> fields_;
    std::vector<std::vector<QString>> rows_;
    std::size_t pos_ = 0;  // == rows_.size() at the end
};

// Closes an open recordset and empties the reference; does nothing for an
// empty reference.
void CloseRecordset(RecordsetPtr& rs);
