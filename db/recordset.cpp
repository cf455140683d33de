#include "db/recordset.h"

#include "core/errors.h"

namespace {

const QString kSource = QStringLiteral("Recordset");

[[noreturn]] void raise(long number, const char* description) {
    throw platform::Error(number, kSource, QString::fromLatin1(description));
}

[[noreturn]] void noCurrentRow() {
    raise(3021,
          "Either BOF or EOF is True, or the current record has been deleted. Requested "
          "operation requires a current record.");
}

[[noreturn]] void noSuchField() {
    raise(3265, "Item cannot be found in the collection corresponding to the requested name or ordinal.");
}

}  // namespace

QString Field::Name() const { return rs_->fieldAt(index_).name; }
QString Field::Type() const { return QStringLiteral("text"); }
int Field::DefinedSize() const { return rs_->fieldAt(index_).definedSize; }
QString Field::Value() const { return rs_->valueAt(index_); }

void Recordset::AppendField(const QString& name, int definedSize) {
    if (open_) raise(3219, "Operation is not allowed in this context.");
    for (const auto& f : fields_)
        if (f.name == name) raise(3367, "Object is already in collection. Cannot append.");
    fields_.push_back({name, definedSize});
}

void Recordset::Open() {
    open_ = true;
    pos_ = rows_.size();
}

void Recordset::AddNew() {
    requireOpen();
    rows_.emplace_back(fields_.size());
    pos_ = rows_.size() - 1;
}

void Recordset::SetValue(int position, const QString& value) {
    requireOpen();
    if (pos_ >= rows_.size()) noCurrentRow();
    if (position < 0 || static_cast<std::size_t>(position) >= fields_.size()) noSuchField();
    rows_[pos_][static_cast<std::size_t>(position)] = value;
}

void Recordset::Update() { requireOpen(); }

Field Recordset::Fields(const QString& name) const {
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i].name == name) return Field(this, static_cast<int>(i));
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return Field(this, static_cast<int>(i));
    noSuchField();
}

Field Recordset::Fields(int position) const {
    if (position < 0 || static_cast<std::size_t>(position) >= fields_.size()) noSuchField();
    return Field(this, position);
}

int Recordset::FieldCount() const { return static_cast<int>(fields_.size()); }

int Recordset::RecordCount() const {
    requireOpen();
    return static_cast<int>(rows_.size());
}

void Recordset::MoveFirst() {
    requireOpen();
    pos_ = 0;
}

void Recordset::MoveNext() {
    requireOpen();
    if (pos_ >= rows_.size()) noCurrentRow();
    ++pos_;
}

bool Recordset::IsEOF() const {
    requireOpen();
    return pos_ >= rows_.size();
}

void Recordset::Close() {
    requireOpen();
    open_ = false;
    rows_.clear();
    fields_.clear();
    pos_ = 0;
}

void Recordset::requireOpen() const {
    if (!open_) raise(3704, "Operation is not allowed when the object is closed.");
}

// A Field handle may outlive a Close, which removes the fields.
const Recordset::FieldDef& Recordset::fieldAt(int field) const {
    if (field < 0 || static_cast<std::size_t>(field) >= fields_.size()) noSuchField();
    return fields_[static_cast<std::size_t>(field)];
}

const QString& Recordset::valueAt(int field) const {
    requireOpen();
    fieldAt(field);
    if (pos_ >= rows_.size()) noCurrentRow();
    return rows_[pos_][static_cast<std::size_t>(field)];
}

void CloseRecordset(RecordsetPtr& rs) {
    if (!rs) return;
    if (rs->State() == 1) rs->Close();
    rs.reset();
}
