#pragma once

#include "UntSearch.h"

#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

namespace Ui {
class TFormSearchAll;
}
class QCheckBox;
class QLabel;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;
class TReadConnection;

// The window "全部查找": searches every note, group name and reminder as the user types and
// lists one row per match. It stays open while results are used.
class TFormSearchAll : public QWidget {
    Q_OBJECT
public:
    TFormSearchAll(TReadConnection& reader, QWidget* parent = nullptr);
    ~TFormSearchAll() override;

    // Called with a result the user activated, and the query and case option that found it.
    std::function<void(const TSearchHit& hit, const QString& query, bool caseSensitive)> OnActivate;

    // Shows the window over its owner with the input focus in the search field.
    void Open();
    // Starts the search for the field's text now instead of after the typing pause.
    void SearchNow();

    QLineEdit* edtQuery() const;
    QCheckBox* chkCase() const;
    QTreeWidget* lvResult() const;
    QLabel* lblCount() const;
    TSearchRunner& Runner() { return runner_; }
    const std::vector<TSearchHit>& Hits() const { return hits_; }
    // The query whose results are listed (or being listed).
    QString ListedQuery() const { return listedQuery_; }
    // No search is running or waiting for the typing pause.
    bool Idle() const;

    // Where a window of frame size own goes beside the main window's frame on screen: the
    // top left corner of its frame.
    static QPoint PlaceBeside(const QRect& main, const QSize& own, const QRect& screen);

    // How long typing must pause before the search starts.
    static constexpr int TypingPauseMs = 150;

protected:
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void AddHits(const QList<TSearchHit>& hits);
    void ShowCount(int total, bool finished);
    void lvResultActivated(QTreeWidgetItem* item);

    std::unique_ptr<Ui::TFormSearchAll> ui_;
    TReadConnection& reader_;
    TSearchRunner runner_;
    QTimer tmrSearch_;
    std::vector<TSearchHit> hits_;
    QString listedQuery_;
    bool listedCase_ = false;
    bool placed_ = false;
    bool searching_ = false;
};
