// Helpers for the GUI tests: finding the widgets of a dialog and answering modal prompts.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "ui/Dialog.h"
#include "ui/qt/QtDialogView.h"

namespace guitest {

inline QWidget* WindowOf(const CDialog& dialog) {
    auto* view = dynamic_cast<qtui::QtDialogView*>(dialog.View());
    return view != nullptr ? view->Window() : nullptr;
}

// The widget of control id, found by the name the backing gives it.
template <class T = QWidget>
T* Control(const CDialog& dialog, int id) {
    QWidget* window = WindowOf(dialog);
    return window != nullptr
               ? window->findChild<T*>(QStringLiteral("ctl%1").arg(id), Qt::FindDirectChildrenOnly)
               : nullptr;
}

// Runs `act` on the first top-level modal (or popup) widget of type T that `match` accepts,
// once it is up; fails the test when none comes within a few seconds.
template <class T>
void WhenUp(std::function<bool(T*)> match, std::function<void(T*)> act) {
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        for (QWidget* w : {QApplication::activePopupWidget(), QApplication::activeModalWidget()}) {
            if (auto* t = qobject_cast<T*>(w); t != nullptr && match(t)) {
                timer->stop();
                timer->deleteLater();
                act(t);
                return;
            }
        }
        if (++*tries > 400) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal " << T::staticMetaObject.className() << " came up";
        }
    });
    timer->start(10);
}

// Chooses `path` in an open or save dialog and presses its button. The name is typed as well:
// selectFile leaves the name field alone once it has the focus, which it may already have.
inline void ChooseFile(QFileDialog* dialog, const QString& path) {
    dialog->selectFile(path);
    if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        name->setText(path);
    static_cast<QDialog*>(dialog)->accept();  // as the Open/Save button does
}

}  // namespace guitest
