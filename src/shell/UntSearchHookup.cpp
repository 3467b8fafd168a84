#include "UntSearchHookup.h"

#include "common/UntHandler.h"
#include "notepad/NotepadPage.h"
#include "reminders/RemindersPage.h"
#include "search/SearchAll.h"
#include "shell/Main.h"
#include "storage/UntDbAccess.h"

#include <QPointer>
#include <QShortcut>
#include <QTabWidget>

void InstallSearchAll(QTabWidget* tabs, TNotepadPage* notes, TRemindersPage* reminders) {
    auto form = std::make_shared<QPointer<TFormSearchAll>>();
    const auto open = Handler(tabs, [=] {
        if (!*form) {
            *form = new TFormSearchAll(DbAccess->Reader, tabs->window());
            (*form)->OnActivate = [=](const TSearchHit& hit, const QString& query, bool cs) {
                // The match is shown in the main window, brought forward (from the tray too).
                if (auto* main = qobject_cast<TFormMain*>(tabs->window()))
                    main->NShowFormClick();
                RunHandler(tabs, [&] {
                    if (hit.kind == TSearchHit::Reminder) {
                        tabs->setCurrentWidget(reminders);
                        reminders->ShowReminderRow(hit.Id);
                        return;
                    }
                    tabs->setCurrentWidget(notes);
                    if (hit.kind != TSearchHit::Note)
                        return notes->ShowGroupMatch(hit.Id, nullptr);
                    const int ordinal = hit.Ordinal;
                    notes->ShowGroupMatch(hit.Id, [=](const QString& text, int* at, int* length) {
                        return FindOccurrence(text, query, cs, ordinal, at, length) ||
                               FindOccurrence(text, query, cs, 0, at, length);
                    });
                });
            };
        }
        (*form)->Open();
    });
    QObject::connect(notes, &TNotepadPage::SearchAllRequested, tabs, open);
    QObject::connect(new QShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+F")), tabs->window()),
                     &QShortcut::activated, tabs, open);
}
