#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

class TConnection;
struct sqlite3_stmt;

// A query result held as a client-side copy of its rows; the statement is finalised at once.
// The editable kind can append and edit rows of a "select * from Table ..." result and post
// them back with bound values.
class TCursor {
public:
    bool Active() const { return active_; }
    void Close();

    void First() { row_ = 0; }
    void Next();
    bool Eof() const { return row_ >= static_cast<int>(rows_.size()); }
    int RecordCount() const { return static_cast<int>(rows_.size()); }
    int FieldCount() const { return static_cast<int>(names_.size()); }
    QString FieldName(int column) const { return names_.at(column); }
    int FieldIndex(const QString& name) const; // -1 when absent

    QVariant Value(int column) const;
    QVariant Value(const QString& name) const;
    QString AsString(int column) const { return ToString(Value(column)); }
    QString AsString(const QString& name) const { return ToString(Value(name)); }
    qint64 AsInteger(int column) const { return ToInteger(Value(column)); }
    qint64 AsInteger(const QString& name) const { return ToInteger(Value(name)); }
    QDateTime AsDateTime(int column) const { return ToDateTime(Value(column)); }
    QDateTime AsDateTime(const QString& name) const { return ToDateTime(Value(name)); }
    bool AsBoolean(int column) const { return ToBoolean(Value(column)); }
    bool AsBoolean(const QString& name) const { return ToBoolean(Value(name)); }

    // Editing, for an editable cursor over one table.
    void Append();
    void Edit();
    void SetField(const QString& name, const QVariant& value);
    void Post();
    void Cancel();
    // The statement the last Post ran (its values bound, not in the text).
    QString PostSql() const { return postSql_; }

    static QString ToString(const QVariant& v);
    static qint64 ToInteger(const QVariant& v);
    static QDateTime ToDateTime(const QVariant& v);
    static bool ToBoolean(const QVariant& v);

    // Runs a SELECT and keeps its rows; the previous result is dropped first. An editable
    // cursor accepts "select * from Table ..." and can then append and edit rows.
    void Open(TConnection& connection, const QString& sql, bool editable = false);

private:
    enum class Mode { Browse, Append, Edit };

    void CheckRow() const;

    TConnection* connection_ = nullptr;
    bool active_ = false;
    QStringList names_;
    std::vector<std::vector<QVariant>> rows_;
    int row_ = 0;
    // editing
    QString table_;
    std::vector<qint64> rowids_;
    Mode mode_ = Mode::Browse;
    std::vector<QVariant> buffer_;
    std::vector<bool> changed_;
    QString postSql_;
};

// One row of a result while it is being read; valid only inside the call that receives it.
class TRowView {
public:
    explicit TRowView(sqlite3_stmt* statement) : statement_(statement) {}
    qint64 Integer(int column) const;
    QString Text(int column) const;
    // The text's bytes as stored (UTF-8), without a copy.
    QByteArrayView Utf8(int column) const;
    // Every column as text, as TDbAccess::ReadTexts gives it.
    QStringList Texts() const;

private:
    sqlite3_stmt* statement_;
};
