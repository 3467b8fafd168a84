#pragma once

#include <QDialog>
#include <memory>
#include <optional>

namespace Ui {
class TFormNoteHistory;
}
class TConnection;
namespace NoteHistory {
class TReader;
}

// "历史版本": the earlier versions of one group's note, newest first, each previewed with
// the lines the current text no longer has marked; 恢复此版本 closes it with that version.
class TFormNoteHistory : public QDialog {
    Q_OBJECT
public:
    TFormNoteHistory(TConnection& connection, const QString& uid, const QString& current,
                     const QString& position, QWidget* parent = nullptr);
    ~TFormNoteHistory() override;

    // The version to put back, once 恢复此版本 closed the dialog.
    std::optional<qint64> Chosen() const { return chosen_; }
    // The version shown in the preview (0: none).
    qint64 Previewed() const;

private:
    void ShowVersion();

    std::unique_ptr<Ui::TFormNoteHistory> ui_;
    std::unique_ptr<NoteHistory::TReader> reader_;
    QString current_;
    std::optional<qint64> chosen_;
};
