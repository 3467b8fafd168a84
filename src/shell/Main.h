#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class TFormMain;
}

// The main window: the reminders and notepad tabs and the bottom bar.
class TFormMain : public QWidget {
    Q_OBJECT
public:
    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    Ui::TFormMain* ui() const { return ui_.get(); }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormShow();

    std::unique_ptr<Ui::TFormMain> ui_;
    bool shown_ = false;
};
